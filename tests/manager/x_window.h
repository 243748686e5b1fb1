// Whether the X server shows a top-level window of the given name that the
// process made (its _NET_WM_PID); kept out of the tests' own files, as
// Xlib's macros clash with ours.
#pragma once

#include <string>

namespace korvo::test {

bool TopLevelWindowShown(const std::string& name, long pid);

}  // namespace korvo::test
