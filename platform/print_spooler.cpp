#include "platform/print_spooler.h"

#include <cups/cups.h>

#include <cerrno>

#include "platform/lasterror.h"
#include "platform/system_root.h"

namespace korvo::platform {

namespace {

constexpr const char* kServerBin = "/usr/lib/cups";

thread_local std::string lastText;

http_t* Connect() {
  http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, 30000, nullptr);
  if (!http) {
    lastText = cupsLastErrorString() ? cupsLastErrorString() : "";
    SetLastError(ECONNREFUSED);
  }
  return http;
}

std::string PrinterUri(const std::string& name) {
  char uri[1024];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, "/printers/%s", name.c_str());
  return uri;
}

ipp_t* Request(ipp_op_t op, const std::string& name) {
  ipp_t* request = ippNewRequest(op);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, PrinterUri(name).c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  return request;
}

// Sends the request (which it frees), with the file as its document when
// one is given; whether cupsd granted it.
bool Send(ipp_t* request, const char* resource, const char* file = nullptr) {
  http_t* http = Connect();
  if (!http) {
    ippDelete(request);
    return false;
  }
  ippDelete(file ? cupsDoFileRequest(http, request, resource, file) : cupsDoRequest(http, request, resource));
  const ipp_status_t status = cupsLastError();
  lastText = cupsLastErrorString() ? cupsLastErrorString() : "";
  httpClose(http);
  if (status <= IPP_STATUS_OK_EVENTS_COMPLETE) return true;
  SetLastError(status == IPP_STATUS_ERROR_NOT_FOUND ? ENOENT
               : status == IPP_STATUS_ERROR_FORBIDDEN || status == IPP_STATUS_ERROR_NOT_AUTHORIZED ? EACCES
               : status == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE || status == IPP_STATUS_ERROR_INTERNAL
                   ? ECONNREFUSED
                   : EIO);
  return false;
}

}  // namespace

std::string SpoolerFilterFolder() { return SystemPath(std::string(kServerBin) + "/filter"); }
std::string SpoolerBackendFolder() { return SystemPath(std::string(kServerBin) + "/backend"); }
std::string SpoolerPpdFolder() { return SystemPath("/usr/share/ppd/korvo"); }

bool SpoolerAnswers() {
  http_t* http = Connect();
  if (!http) return false;
  httpClose(http);
  return true;
}

bool AddPrinterQueue(const PrinterQueue& queue) {
  ipp_t* request = Request(IPP_OP_CUPS_ADD_MODIFY_PRINTER, queue.name);
  ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-info", nullptr, queue.info.c_str());
  ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-location", nullptr, queue.location.c_str());
  ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_URI, "device-uri", nullptr, queue.deviceUri.c_str());
  ippAddBoolean(request, IPP_TAG_PRINTER, "printer-is-accepting-jobs", 1);
  ippAddInteger(request, IPP_TAG_PRINTER, IPP_TAG_ENUM, "printer-state", IPP_PSTATE_IDLE);
  if (!queue.opPolicy.empty())
    ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_NAME, "printer-op-policy", nullptr, queue.opPolicy.c_str());
  return Send(request, "/admin/", queue.ppdFile.empty() ? nullptr : queue.ppdFile.c_str());
}

bool DeletePrinterQueue(const std::string& name) { return Send(Request(IPP_OP_CUPS_DELETE_PRINTER, name), "/admin/"); }

bool PrinterQueueExists(const std::string& name) {
  ipp_t* request = Request(IPP_OP_GET_PRINTER_ATTRIBUTES, name);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "printer-name");
  return Send(request, "/");
}

std::string SpoolerErrorText() { return lastText; }

}  // namespace korvo::platform
