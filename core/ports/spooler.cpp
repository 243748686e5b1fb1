#include "core/ports/spooler.h"

#include <cups/cups.h>

#include <cerrno>

#include "platform/lasterror.h"

namespace korvo::ports {

namespace {

struct Printer {
  http_t* http = nullptr;
  std::string uri;
};

// ipp://localhost/printers/<name>: the form cupsd takes on any connection.
std::string PrinterUri(const std::string& name) {
  char uri[1024];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, "/printers/%s", name.c_str());
  return uri;
}

// Sends the request (which it frees) and tells whether cupsd granted it.
bool Granted(http_t* http, ipp_t* request) {
  ipp_t* response = cupsDoRequest(http, request, "/");
  ippDelete(response);
  if (cupsLastError() <= IPP_STATUS_OK_EVENTS_COMPLETE) return true;
  platform::SetLastError(cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND ? ENOENT
                         : cupsLastError() == IPP_STATUS_ERROR_FORBIDDEN ||
                                 cupsLastError() == IPP_STATUS_ERROR_NOT_AUTHORIZED
                             ? EACCES
                             : EIO);
  return false;
}

}  // namespace

bool OpenPrinter(const std::string& name, void** printer) {
  *printer = nullptr;
  if (name.empty()) {
    platform::SetLastError(EINVAL);
    return false;
  }
  http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, 30000, nullptr);
  if (!http) {
    platform::SetLastError(ECONNREFUSED);
    return false;
  }
  auto* p = new Printer{http, PrinterUri(name)};
  ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, p->uri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "printer-state");
  if (!Granted(http, request)) {
    platform::LastErrorGuard keep;
    httpClose(http);
    delete p;
    return false;
  }
  *printer = p;
  return true;
}

bool SetJob(void* printer, uint32_t jobId, uint32_t command) {
  auto* p = static_cast<Printer*>(printer);
  if (!p || command != kJobControlCancel) {
    platform::SetLastError(EINVAL);
    return false;
  }
  // The connection may have idled for as long as the job's dialog stayed
  // open, and cupsd drops idle clients: a fresh one for the cancel.
  httpReconnect2(p->http, 30000, nullptr);
  ipp_t* request = ippNewRequest(IPP_OP_CANCEL_JOB);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, p->uri.c_str());
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", static_cast<int>(jobId));
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  // Its document files and history go too: the captured job is ours now.
  ippAddBoolean(request, IPP_TAG_OPERATION, "purge-job", 1);
  return Granted(p->http, request);
}

bool ClosePrinter(void* printer) {
  auto* p = static_cast<Printer*>(printer);
  if (!p) {
    platform::SetLastError(EINVAL);
    return false;
  }
  httpClose(p->http);
  delete p;
  return true;
}

}  // namespace korvo::ports
