// The end of the session (SIGTERM from a logout, SIGHUP from a closed
// terminal) ends a desktop program normally whatever window it shows: its
// own dialogs, and the toolkit's message boxes and file choosers, which run
// loops of their own.
#include <spawn.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include <wx/uiaction.h>
#include <wx/window.h>

#include "tests/desktop/x_windows.h"
#include "tests/support/gui/window_test.h"
#include "tests/support/sandbox.h"

extern char** environ;

namespace korvo::test {
namespace {

class SessionEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Under the leak checker the programs are held to the tests' own rule.
    Sandbox::writeFile(sandbox_.path("lsan.supp"), ToolkitLeakSuppressions());
    const char* options = std::getenv("LSAN_OPTIONS");
    sandbox_.setEnv("LSAN_OPTIONS",
                    std::string(options ? options : "") + ":suppressions=" + sandbox_.path("lsan.supp").string());
  }

  pid_t Start(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, args[0].c_str(), nullptr, nullptr, argv.data(), environ), 0);
    return pid;
  }

  // Sends the signal and expects a normal end; a program that does not end
  // is killed, so that none outlives the test.
  void ExpectEndsOn(pid_t pid, int sig) {
    kill(pid, sig);
    int status = 0;
    const bool ended = WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, "the program's end",
                               std::chrono::seconds(30));
    if (!ended) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return;
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << (WIFSIGNALED(status) ? "ended by signal " + std::to_string(WTERMSIG(status)) : "exit code " +
                                                                                             std::to_string(status));
  }

  Sandbox sandbox_;
};

// Each box of the prompt layer and a dialog of the program's own, for both signals.
TEST_F(SessionEndTest, EveryKindOfBoxEndsWithTheProgram) {
  const std::string probe = (BuildDir() / "tests" / "desktop" / "desktop_session_end_probe").string();
  for (const char* kind : {"message", "question", "open", "save", "dialog"}) {
    for (int sig : {SIGTERM, SIGHUP}) {
      SCOPED_TRACE(std::string(kind) + " " + std::to_string(sig));
      const pid_t pid = Start({probe, kind});
      WaitFor([&] { return ShownWindow(pid, "Probe box").has_value(); }, std::string("the probe's ") + kind);
      ExpectEndsOn(pid, sig);
    }
  }
}

// The viewer: its first message comes before its window (a file that does not
// open), and File > Open shows the toolkit's chooser.
TEST_F(SessionEndTest, TheViewerEndsWithItsChooserOrItsFirstMessageUp) {
  const std::string viewer = (BuildDir() / "viewer" / "korvolens").string();
  for (int sig : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(sig);
    pid_t pid = Start({viewer, sandbox_.path("missing.fax").string()});
    WaitFor([&] { return ShownWindows(pid).size() == 2; }, "the viewer's message over its window");
    ExpectEndsOn(pid, sig);

    pid = Start({viewer});
    std::optional<ScreenRect> frame;
    WaitFor([&] { return (frame = ShownWindow(pid)).has_value(); }, "the viewer's window");
    if (frame) {
      // Keys go to the window under the pointer, or to the one the window manager focused.
      wxUIActionSimulator sim;
      const wxPoint middle(frame->x + frame->width / 2, frame->y + frame->height / 2);
      sim.MouseMove(middle);
      WaitFor([&] { return wxGetMousePosition() == middle; }, "the pointer over the viewer");
      sim.Char('o', wxMOD_CONTROL);
      WaitFor([&] { return ShownWindow(pid, "Select a file").has_value(); }, "the viewer's file chooser");
    }
    ExpectEndsOn(pid, sig);
  }
}

}  // namespace
}  // namespace korvo::test
