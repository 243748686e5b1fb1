#include "server/trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "common/trace.h"
#include "platform/lasterror.h"

namespace korvo {

namespace {
std::atomic<bool> gConsoleTrace{false};
}

void SetConsoleTrace(bool on) { gConsoleTrace = on; }
bool ConsoleTrace() { return gConsoleTrace; }

void DebugTrace(const char* format, ...) {
  platform::LastErrorGuard keep;
  char line[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  DebugPrint("%s", line);
  if (gConsoleTrace) {
    std::fputs(line, stdout);
    std::fflush(stdout);
  }
}

}  // namespace korvo
