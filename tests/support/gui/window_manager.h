// A real window manager (Openbox) on the private Xvfb, for the tests that
// place, stack or restore windows: without one, X keeps every position a
// program asks for and stacks nothing, so those faults never show. It runs
// with its own HOME and XDG folders in a temporary folder (it writes a log
// there), is ready once it has claimed the screen (_NET_SUPPORTING_WM_CHECK
// on the root window), and is stopped by its PID with that folder removed.
// A GUI test program asks for one with korvo_gui_test(${target} WINDOW_MANAGER).
#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace korvo::test {

class WindowManager {
 public:
  // Starts Openbox on $DISPLAY; throws std::runtime_error when it does not
  // come up.
  WindowManager();
  ~WindowManager();
  WindowManager(const WindowManager&) = delete;
  WindowManager& operator=(const WindowManager&) = delete;

  pid_t pid() const { return pid_; }
  // The manager's HOME and XDG folders, removed when it stops.
  const std::filesystem::path& home() const { return home_; }

 private:
  void stop();

  pid_t pid_ = -1;
  std::filesystem::path home_;
};

// Whether a window manager manages $DISPLAY's screen now.
bool WindowManagerRunning();

// The titles of the windows the manager manages, bottom to top, as it stacks
// them (_NET_CLIENT_LIST_STACKING); empty without a manager.
std::vector<std::string> ManagedWindowsBottomToTop();

}  // namespace korvo::test
