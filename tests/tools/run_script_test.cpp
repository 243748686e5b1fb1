// scripts/run.sh as a user runs it, on a state folder of the sandbox and the
// build under test: it stops everything it started on a signal, whether the
// signal came to it alone or from Ctrl+C to the whole terminal, and a server
// that does not start ends it with a failure and no instructions.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/support/sandbox.h"

namespace korvo {
namespace {

constexpr char kStarted[] = "Fax Server Daemon started.\n";
constexpr char kInstructions[] = "To use it from another shell, first:";

// One run of the script in a process group of its own (as a shell's job is),
// with its standard output and error in a pipe.
class RunScript {
 public:
  static constexpr int kPatienceMs = 120000;  // only ever reached when something hangs

  explicit RunScript(const std::filesystem::path& state) {
    const std::string script = KORVO_RUN_SCRIPT;
    const std::string build = std::filesystem::absolute(test::BuildDir()).string();
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      setpgid(0, 0);
      dup2(fds[1], STDOUT_FILENO);
      dup2(fds[1], STDERR_FILENO);
      close(fds[0]);
      close(fds[1]);
      setenv("KORVO_STATE_DIR", state.c_str(), 1);
      setenv("KORVO_BUILD_DIR", build.c_str(), 1);
      execl(script.c_str(), script.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    setpgid(pid_, pid_);
    group_ = pid_;
    close(fds[1]);
    out_ = fds[0];
  }
  ~RunScript() {
    // A test that failed half-way leaves nothing running.
    if (group_ > 0) kill(-group_, SIGKILL);
    if (pid_ > 0) Wait();
    if (out_ >= 0) close(out_);
  }
  RunScript(const RunScript&) = delete;
  RunScript& operator=(const RunScript&) = delete;

  pid_t group() const { return group_; }
  const std::string& output() const { return output_; }

  bool WaitFor(const std::string& text) {
    while (output_.find(text) == std::string::npos)
      if (!ReadMore()) return false;
    return true;
  }
  // The exit code after the rest of the output; 128 + the signal for a
  // script that was killed.
  int Wait() {
    while (ReadMore()) {
    }
    int status = 0;
    while (pid_ > 0 && waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  bool ReadMore() {
    if (out_ < 0) return false;
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, kPatienceMs) <= 0) return false;
    char buf[4096];
    const ssize_t n = read(out_, buf, sizeof buf);
    if (n <= 0) return false;
    output_.append(buf, static_cast<size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  pid_t group_ = -1;
  int out_ = -1;
  std::string output_;
};

// Every process of the group has ended: the script reaped what it started,
// and nothing it started was left behind to its own.
bool GroupEnds(pid_t group) {
  for (int i = 0; i < 3000; ++i) {
    if (kill(-group, 0) != 0 && errno == ESRCH) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

class RunScriptTest : public ::testing::Test {
 protected:
  test::Sandbox sandbox_;
  std::filesystem::path state_ = sandbox_.path("state");
};

TEST_F(RunScriptTest, ASignalStopsTheServerAndTheSimulatorWithTheScript) {
  struct Case {
    const char* what;
    int signal;
    bool toGroup;  // Ctrl+C reaches every process of the terminal's job
    int code;
  };
  const Case cases[] = {
      {"SIGTERM to the script", SIGTERM, false, 128 + SIGTERM},
      {"SIGHUP to the script", SIGHUP, false, 128 + SIGHUP},
      {"SIGINT to the script", SIGINT, false, 128 + SIGINT},
      {"Ctrl+C", SIGINT, true, 128 + SIGINT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RunScript run(state_);
    ASSERT_TRUE(run.WaitFor(kInstructions)) << run.output();
    const pid_t group = run.group();
    kill(c.toGroup ? -group : group, c.signal);
    EXPECT_EQ(run.Wait(), c.code) << run.output();
    EXPECT_TRUE(GroupEnds(group)) << run.output();
  }
}

TEST_F(RunScriptTest, AServerThatDoesNotStartFailsTheScriptWithoutInstructions) {
  RunScript first(state_);
  ASSERT_TRUE(first.WaitFor(kInstructions)) << first.output();
  {
    // The same state: the server root is in use.
    RunScript second(state_);
    EXPECT_NE(second.Wait(), 0) << second.output();
    EXPECT_NE(second.output().find("is in use by another server"), std::string::npos) << second.output();
    EXPECT_EQ(second.output().find(kStarted), std::string::npos) << second.output();
    EXPECT_EQ(second.output().find(kInstructions), std::string::npos) << second.output();
    EXPECT_TRUE(GroupEnds(second.group())) << second.output();
  }
  // The instructions came once the server was up.
  EXPECT_LT(first.output().find(kStarted), first.output().find(kInstructions));
  kill(first.group(), SIGTERM);
  EXPECT_EQ(first.Wait(), 128 + SIGTERM);
  EXPECT_TRUE(GroupEnds(first.group()));
}

}  // namespace
}  // namespace korvo
