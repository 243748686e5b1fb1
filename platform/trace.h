// The trace sink that stands in for the debugger output of the Windows design:
// standard error, or the file named by $KORVO_TRACE (appended). The variable is
// looked up on every call, so a test can move the sink.
#pragma once

#include <string_view>

namespace korvo::platform {

// Writes the text as it is (no line end is added) in one write, so traces of
// concurrent threads and processes do not interleave within a text. Never
// changes the last error or errno.
void WriteTrace(std::string_view text);

}  // namespace korvo::platform
