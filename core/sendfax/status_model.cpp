#include "core/sendfax/status_model.h"

namespace korvo::sendfax {

StatusLines::StatusLines(const SendFaxJob& job, bool success) {
  if (success) {
    first = "Success. Fax sent to " + job.server + ".";
    second = "Scheduled for delivery at " + FormatLocalTime(job.sendTime);
  } else {
    first = "Send fax to " + job.server + " failed.";
    beep = true;
  }
  first = first.substr(0, kFirstSize - 1);
  second = second.substr(0, kSecondSize - 1);
}

}  // namespace korvo::sendfax
