// Placeholder until the message tables land: only the fall-back text.
#include "common/status.h"
#include "common/status_codes.h"

#include <cstdio>

namespace korvo {

std::string GetStatusText(Status code) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "Error: %u (%08X), error description string not found.", code & 0xFFFFu, code);
  return buf;
}

}  // namespace korvo
