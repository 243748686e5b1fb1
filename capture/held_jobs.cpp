#include "capture/held_jobs.h"

#include <cups/cups.h>

#include <cstring>

#include "capture/agent_link.h"

namespace korvo::capture {

namespace {

struct HeldJob {
  int id = 0;
  ipp_jstate_t state = IPP_JSTATE_PENDING;
  std::string message;
};

std::vector<HeldJob> OwnOpenJobs(http_t* http, std::string& problem) {
  ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, "ipp://localhost/");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  ippAddBoolean(request, IPP_TAG_OPERATION, "my-jobs", 1);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "not-completed");
  static const char* const kWanted[] = {"job-id", "job-state", "job-printer-state-message"};
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr, kWanted);
  ipp_t* response = cupsDoRequest(http, request, "/");
  std::vector<HeldJob> jobs;
  if (cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE) {
    problem = std::string("cannot list the print jobs: ") + cupsLastErrorString();
    ippDelete(response);
    return jobs;
  }
  // One group of attributes per job, each opened by a separator.
  HeldJob job;
  for (ipp_attribute_t* a = ippFirstAttribute(response);; a = ippNextAttribute(response)) {
    if (!a || !ippGetName(a)) {
      if (job.id > 0) jobs.push_back(job);
      job = HeldJob();
      if (!a) break;
      continue;
    }
    if (ippGetGroupTag(a) != IPP_TAG_JOB) continue;
    const char* name = ippGetName(a);
    if (!std::strcmp(name, "job-id") && ippGetValueTag(a) == IPP_TAG_INTEGER) job.id = ippGetInteger(a, 0);
    else if (!std::strcmp(name, "job-state") && ippGetValueTag(a) == IPP_TAG_ENUM)
      job.state = static_cast<ipp_jstate_t>(ippGetInteger(a, 0));
    else if (!std::strcmp(name, "job-printer-state-message") && ippGetString(a, 0, nullptr))
      job.message = ippGetString(a, 0, nullptr);
  }
  ippDelete(response);
  return jobs;
}

}  // namespace

ReleasedJobs ReleaseHeldJobs() {
  ReleasedJobs out;
  http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, 30000, nullptr);
  if (!http) {
    out.problem = std::string("cannot reach the print spooler at ") + cupsServer();
    return out;
  }
  for (const HeldJob& job : OwnOpenJobs(http, out.problem)) {
    if (job.state != IPP_JSTATE_HELD || (job.message.find(kHeldForAgent) == std::string::npos &&
                                         job.message.find(kHandedToAgent) == std::string::npos))
      continue;
    char uri[256];
    std::snprintf(uri, sizeof uri, "ipp://localhost/jobs/%d", job.id);
    ipp_t* request = ippNewRequest(IPP_OP_RELEASE_JOB);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ippDelete(cupsDoRequest(http, request, "/"));
    if (cupsLastError() <= IPP_STATUS_OK_EVENTS_COMPLETE)
      out.jobs.push_back(job.id);
    else
      out.problem = "cannot release job " + std::to_string(job.id) + ": " + cupsLastErrorString();
  }
  httpClose(http);
  return out;
}

}  // namespace korvo::capture
