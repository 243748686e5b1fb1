// What the X server shows of a top-level window of the given name that the
// process made (its _NET_WM_PID), found wherever a window manager has put it
// (inside its frame); kept out of the tests' own files, as Xlib's macros
// clash with ours.
#pragma once

#include <optional>
#include <string>

namespace korvo::test {

bool TopLevelWindowShown(const std::string& name, long pid);

// The outer rectangle on the screen (the manager's frame with its title bar
// when there is one) of that window while it is shown: x, y, width, height.
struct ScreenBox {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const ScreenBox&) const = default;
};
std::optional<ScreenBox> ShownWindowBox(const std::string& name, long pid);

}  // namespace korvo::test
