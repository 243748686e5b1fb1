// Windows of other processes on the test's display, found through X by
// their title and _NET_WM_PID at any depth (a window manager reparents them);
// kept out of the tests' own files, as Xlib's macros clash with ours.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace korvo::test {

struct ScreenRect {
  int x, y, width, height;
};

// The screen rectangle of a mapped window of that process whose title is
// `title` (any title when empty).
// The topmost such window first.
std::vector<ScreenRect> ShownWindows(long pid, const std::string& title = "");
std::optional<ScreenRect> ShownWindow(long pid, const std::string& title = "");

}  // namespace korvo::test
