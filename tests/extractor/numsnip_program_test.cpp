// The numsnip program itself: the end of the session closes it normally.
#include <spawn.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdlib>
#include <string>

#include "tests/support/gui/window_test.h"
#include "tests/support/sandbox.h"

// Last: Xlib's macros (None, Status) would break the headers above.
#include <X11/Xlib.h>

extern char** environ;

namespace korvo::test {
namespace {

// True when a window of that title is mapped on the display.
bool WindowShown(Display* display, const std::string& title) {
  Window root, parent, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) return false;
  bool found = false;
  for (unsigned i = 0; i < count && !found; ++i) {
    char* name = nullptr;
    XWindowAttributes attributes;
    if (XFetchName(display, children[i], &name) && name) {
      found = title == name && XGetWindowAttributes(display, children[i], &attributes) &&
              attributes.map_state == IsViewable;
      XFree(name);
    }
  }
  if (children) XFree(children);
  return found;
}

class NumsnipProgramTest : public ::testing::TestWithParam<int> {};

TEST_P(NumsnipProgramTest, TheSessionsEndClosesItNormally) {
  Sandbox sandbox;
  // Under the leak checker the program is held to the tests' own rule.
  Sandbox::writeFile(sandbox.path("lsan.supp"), ToolkitLeakSuppressions());
  const char* options = std::getenv("LSAN_OPTIONS");
  sandbox.setEnv("LSAN_OPTIONS", std::string(options ? options : "") + ":suppressions=" + sandbox.path("lsan.supp").string());
  std::string program = (BuildDir() / "extractor" / "numsnip").string();
  char* argv[] = {program.data(), nullptr};
  pid_t pid;
  ASSERT_EQ(posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ), 0);
  Display* display = XOpenDisplay(nullptr);
  ASSERT_NE(display, nullptr);
  EXPECT_TRUE(WaitFor([&] { return WindowShown(display, "Numsnip"); }, "the Numsnip window"));
  XCloseDisplay(display);

  kill(pid, GetParam());
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
}

INSTANTIATE_TEST_SUITE_P(Signals, NumsnipProgramTest, ::testing::Values(SIGTERM, SIGHUP));

}  // namespace
}  // namespace korvo::test
