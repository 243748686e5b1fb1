// The window-manager fixture of the GUI tests: Openbox claims the private
// display, manages the windows shown on it, and leaves neither a process nor
// a file once it stops.
#include <algorithm>
#include <cerrno>
#include <csignal>

#include <gtest/gtest.h>
#include <wx/frame.h>

#include "tests/support/gui/window_manager.h"
#include "tests/support/gui/window_test.h"

namespace korvo::test {
namespace {

class WindowManagerFixture : public WindowTest {};

bool Managed(const std::string& title) {
  auto titles = ManagedWindowsBottomToTop();
  return std::find(titles.begin(), titles.end(), title) != titles.end();
}

TEST_F(WindowManagerFixture, ManagesTheDisplayAndLeavesNothingBehind) {
  ASSERT_FALSE(WindowManagerRunning());
  pid_t pid = -1;
  std::filesystem::path home;
  {
    WindowManager manager;
    pid = manager.pid();
    home = manager.home();
    EXPECT_TRUE(WindowManagerRunning());
    auto* frame = new wxFrame(nullptr, wxID_ANY, "Managed frame");
    ShowAndWait(frame);
    WaitFor([] { return Managed("Managed frame"); }, "the frame in the manager's list");
    frame->Destroy();
  }
  EXPECT_EQ(kill(pid, 0), -1);
  EXPECT_EQ(errno, ESRCH);
  EXPECT_FALSE(std::filesystem::exists(home));
}

}  // namespace
}  // namespace korvo::test
