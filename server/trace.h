// The server's trace line: to the trace channel (when DebugFlags is set) and,
// under the console trace switch, to the console as well.
#pragma once

namespace korvo {

void DebugTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Set by the service start routine when its first argument begins with 'd'.
void SetConsoleTrace(bool on);
bool ConsoleTrace();

}  // namespace korvo
