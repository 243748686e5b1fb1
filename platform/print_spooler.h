// The print spooler as setup sees it: CUPS, reached through libcups at the
// server CUPS_SERVER (or client.conf) names, and the folders cupsd reads its
// filters, backends and PPDs from, below the system root.
#pragma once

#include <string>

namespace korvo::platform {

// <ServerBin>/filter and <ServerBin>/backend; ServerBin is Debian's
// /usr/lib/cups.
std::string SpoolerFilterFolder();
std::string SpoolerBackendFolder();
// The folder of our PPD among the model PPDs (/usr/share/ppd/korvo).
std::string SpoolerPpdFolder();

// Whether cupsd answers.
bool SpoolerAnswers();

struct PrinterQueue {
  std::string name;  // CUPS takes no blanks in a queue name
  std::string info;
  std::string location;
  std::string deviceUri;
  std::string ppdFile;
  // cupsd's operation policy for the queue (a <Policy> of cupsd.conf);
  // empty: cupsd's default.
  std::string opPolicy;
};
// Adds the queue, or changes the one of that name, enabled and accepting
// jobs, with the PPD file.
bool AddPrinterQueue(const PrinterQueue& queue);
bool DeletePrinterQueue(const std::string& name);
bool PrinterQueueExists(const std::string& name);

// The last error of these is ENOENT for an unknown queue, ECONNREFUSED when
// cupsd does not answer, EACCES when it refuses us, EIO for any other
// refusal; cupsd's own words for the last failure of this thread:
std::string SpoolerErrorText();

}  // namespace korvo::platform
