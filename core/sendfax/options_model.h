// The Send Fax Options dialog without its window: the values it edits and
// the list of send times it offers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/sendfax/send_fax_job.h"

namespace korvo::sendfax {

struct SendTimeEntry {
  std::string text;
  int64_t time;  // seconds since 1970
};

// "NOW" at `now`, then every quarter hour from `now` rounded up to one until
// an hour before the end of that UTC day (whole days of 86400 seconds since
// 1970), each shown in the locale's time format.
std::vector<SendTimeEntry> SendTimes(int64_t now);

class OptionsModel {
 public:
  // Takes the job's values, its server names and the send times at `now`.
  OptionsModel(SendFaxJob& job, int64_t now);

  // The send-time entry chosen (an index of times(); others are ignored).
  void Select(int index);
  // OK: the values go into the job.
  void Apply();

  const std::vector<SendTimeEntry>& times() const { return times_; }
  const std::vector<std::string>& serverNames() const { return serverNames_; }
  // The entry whose text is the job's send-time text, -1 when none is.
  int selected() const { return selected_; }

  std::string subject;
  std::string server;
  int highPriority = 0;
  int keepSentFax = 0;
  int preview = 0;
  int saferDialing = 0;
  int sendCoverPage = 0;
  int64_t sendTime = 0;
  std::string sendTimeText;

 private:
  SendFaxJob& job_;
  std::vector<SendTimeEntry> times_;
  std::vector<std::string> serverNames_;
  int selected_ = -1;
};

}  // namespace korvo::sendfax
