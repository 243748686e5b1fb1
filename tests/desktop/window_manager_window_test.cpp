// The window-manager fixture of the GUI tests: Openbox claims the private
// display and leaves neither a process nor a file once it stops. (That it
// manages the windows a program shows is managed_window_test's part: there
// it starts before the toolkit, as for every program that asks for it.)
#include <cerrno>
#include <csignal>

#include <gtest/gtest.h>

#include "tests/support/gui/window_manager.h"
#include "tests/support/gui/window_test.h"

namespace korvo::test {
namespace {

class WindowManagerFixture : public WindowTest {};

TEST_F(WindowManagerFixture, ClaimsTheDisplayAndLeavesNothingBehind) {
  ASSERT_FALSE(WindowManagerRunning());
  pid_t pid = -1;
  std::filesystem::path home;
  {
    WindowManager manager;
    pid = manager.pid();
    home = manager.home();
    EXPECT_TRUE(WindowManagerRunning());
    EXPECT_TRUE(std::filesystem::exists(home));
  }
  EXPECT_EQ(kill(pid, 0), -1);
  EXPECT_EQ(errno, ESRCH);
  EXPECT_FALSE(std::filesystem::exists(home));
}

}  // namespace
}  // namespace korvo::test
