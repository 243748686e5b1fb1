// The data of one fax on the Send Fax road, shared by all its dialogs: the
// options, the recipients chosen so far and the pair of files in the OutBox.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/fax_header.h"

namespace korvo::sendfax {

struct SendFaxJob {
  std::string documentTitle;  // always empty
  std::string subject;
  std::string server;
  int highPriority = 0;
  int keepSentFax = 0;
  int preview = 0;
  int useGlobalAddressBook = 0;
  int saferDialing = 0;
  int sendCoverPage = 0;
  int32_t sendTime = 0;  // seconds since 1970, in the local clock
  std::string sendTimeText;
  // Only its recipient list is used.
  std::unique_ptr<FaxHeader> recipientsHeader;
  // What the Options dialog offers in its server box.
  std::vector<std::string> serverNames;
  std::mutex serverNamesLock;
  pid_t viewerProcess = -1;  // the preview's viewer, -1 when none runs
  // The captured print stream (CPTxxxx.TMP), after conversion CPTxxxx.FAX.
  std::string faxImagePath;
  // The companion name (CPTxxxx.TMR), after conversion CPTxxxx.KVF.
  std::string headerPath;
};

// The time (seconds since 1970) as local time in a strftime format; the
// dialogs show times with "%X", the locale's time format.
std::string FormatLocalTime(int64_t time, const char* format = "%X");

}  // namespace korvo::sendfax
