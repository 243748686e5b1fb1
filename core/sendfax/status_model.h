// The two lines of the Send Fax Status dialog.
#pragma once

#include <string>

#include "core/sendfax/send_fax_job.h"

namespace korvo::sendfax {

struct StatusLines {
  static constexpr size_t kFirstSize = 64;
  static constexpr size_t kSecondSize = 512;

  // The outcome of sending the job; a failure also beeps.
  StatusLines(const SendFaxJob& job, bool success);

  std::string first;
  std::string second;
  bool beep = false;
};

}  // namespace korvo::sendfax
