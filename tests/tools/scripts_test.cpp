// The scripts a new user runs first. run.sh, on a state folder of the sandbox
// and the build under test: it stops everything it started on a signal,
// whether the signal came to it alone or from Ctrl+C to the whole terminal,
// and a server that does not start ends it with a failure and no
// instructions. deps.sh, on a package list of its own: who cannot install
// learns in one line what to install as root, and apt-get's errors show
// without its debconf notice.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/sandbox.h"

namespace korvo {
namespace {

constexpr char kStarted[] = "Fax Server Daemon started.\n";
constexpr char kInstructions[] = "To use it from another shell, first:";

// One run of the script in a process group of its own (as a shell's job is),
// with its standard output and error in a pipe.
class RunScript {
 public:
  // Only ever reached when something hangs; a stop takes the server's 30 s at
  // the most.
  static constexpr int kPatienceMs = 120000;
  static constexpr int kStopPatienceMs = 60000;

  explicit RunScript(const std::filesystem::path& state) {
    const std::string script = KORVO_SCRIPTS_DIR "/run.sh";
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
  // A script still running after the patience is a hang: -1, with what the
  // group was doing appended to the output.
  int Wait() {
    while (ReadMore(kStopPatienceMs)) {
    }
    int status = 0;
    for (int waited = 0; pid_ > 0; waited += 10) {
      const pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_ || (r < 0 && errno != EINTR)) break;
      if (waited >= kStopPatienceMs) {
        output_ += "\n[still running after the patience]\n" + Processes();
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  bool ReadMore(int patienceMs = kPatienceMs) {
    if (out_ < 0) return false;
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, patienceMs) <= 0) return false;
    char buf[4096];
    const ssize_t n = read(out_, buf, sizeof buf);
    if (n <= 0) return false;
    output_.append(buf, static_cast<size_t>(n));
    return true;
  }

  // Each process of the group with its state and what it waits in.
  std::string Processes() const {
    std::string out;
    const std::string command = "ps -o pid,ppid,stat,wchan:24,args -g " + std::to_string(group_);
    if (FILE* ps = popen(command.c_str(), "r")) {
      char line[512];
      while (fgets(line, sizeof line, ps)) out += line;
      pclose(ps);
    }
    return out;
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
  // What the running server was given; the refused run changes none of it.
  const std::filesystem::path modems = state_ / "server" / "Config" / "Modems.dbs";
  const std::filesystem::path hive = state_ / "machine.reg";
  const std::string modemsBefore = test::Sandbox::readFile(modems), hiveBefore = test::Sandbox::readFile(hive);
  ASSERT_FALSE(modemsBefore.empty());
  {
    // The same state: the server root is in use.
    RunScript second(state_);
    EXPECT_NE(second.Wait(), 0) << second.output();
    EXPECT_NE(second.output().find("is in use by another server"), std::string::npos) << second.output();
    EXPECT_EQ(second.output().find(kStarted), std::string::npos) << second.output();
    EXPECT_EQ(second.output().find(kInstructions), std::string::npos) << second.output();
    EXPECT_TRUE(GroupEnds(second.group())) << second.output();
  }
  EXPECT_EQ(test::Sandbox::readFile(modems), modemsBefore) << "the running server's modem table";
  EXPECT_EQ(test::Sandbox::readFile(hive), hiveBefore);
  // The instructions came once the server was up.
  EXPECT_LT(first.output().find(kStarted), first.output().find(kInstructions));
  kill(first.group(), SIGTERM);
  EXPECT_EQ(first.Wait(), 128 + SIGTERM);
  EXPECT_TRUE(GroupEnds(first.group()));
}

// The manager's View starts the viewer the machine hive names; a hive
// written before the viewer was built gains the value at the next run.
TEST_F(RunScriptTest, TheMachineHiveNamesTheViewer) {
  const std::filesystem::path hive = state_ / "machine.reg";
  const std::string line =
      "\"KorvoLens\"=\"" + (std::filesystem::absolute(test::BuildDir()) / "viewer" / "korvolens").string() + "\"";
  auto read = [&] {
    std::ifstream in(hive);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  };
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run == 0 ? "a new hive" : "a hive without the viewer");
    RunScript script(state_);
    ASSERT_TRUE(script.WaitFor(kInstructions)) << script.output();
    const std::string text = read();
    EXPECT_NE(text.find(line), std::string::npos) << text;
    kill(script.group(), SIGTERM);
    EXPECT_EQ(script.Wait(), 128 + SIGTERM);
    EXPECT_TRUE(GroupEnds(script.group()));
    // The value taken out again, as a hive from before the viewer was.
    const size_t at = text.find(line);
    if (at != std::string::npos) std::ofstream(hive, std::ios::trunc) << text.substr(0, at) + text.substr(text.find('\n', at) + 1);
  }
}

// deps.sh copied beside a package list of two packages no machine has, run
// with a PATH of only the tools it needs (so no sudo), as the given user.
class DepsScriptTest : public ::testing::Test {
 protected:
  static constexpr char kAbsent[] = "korvo-absent-one korvo-absent-two";

  void SetUp() override {
    namespace fs = std::filesystem;
    const fs::path scripts = sandbox_.path("scripts");
    fs::create_directories(scripts);
    fs::copy_file(KORVO_SCRIPTS_DIR "/deps.sh", scripts / "deps.sh");
    test::Sandbox::writeFile(scripts / "packages.txt", "# two\nkorvo-absent-one\n\nkorvo-absent-two\n");
    fs::create_directories(bin_);
    std::istringstream path(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
    std::vector<std::string> dirs;
    for (std::string d; std::getline(path, d, ':');) dirs.push_back(d);
    for (const char* tool : {"bash", "dirname", "grep", "sed", "dpkg-query", "id"}) {
      for (const auto& d : dirs)
        if (access((fs::path(d) / tool).c_str(), X_OK) == 0) {
          fs::create_symlink(fs::path(d) / tool, bin_ / tool);
          break;
        }
      ASSERT_TRUE(fs::exists(bin_ / tool)) << tool;
    }
    // Another user must reach the script.
    for (const fs::path& p : {sandbox_.root(), scripts, bin_})
      fs::permissions(p, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
  }

  struct Outcome {
    int code = -1;
    std::string output;  // standard output and error
  };
  Outcome Deps(uid_t uid) {
    const std::string script = sandbox_.path("scripts/deps.sh").string();
    const std::string path = "PATH=" + bin_.string();
    Outcome run;
    int fds[2];
    if (pipe(fds) != 0) return run;
    const pid_t pid = fork();
    if (pid == 0) {
      dup2(fds[1], STDOUT_FILENO);
      dup2(fds[1], STDERR_FILENO);
      close(fds[0]);
      close(fds[1]);
      if (uid != geteuid() && (setgid(uid) != 0 || setuid(uid) != 0)) _exit(126);
      char* argv[] = {const_cast<char*>(script.c_str()), nullptr};
      char* envp[] = {const_cast<char*>(path.c_str()), nullptr};
      execve(argv[0], argv, envp);
      _exit(127);
    }
    close(fds[1]);
    char buf[4096];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) run.output.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
  }

  test::Sandbox sandbox_;
  std::filesystem::path bin_ = sandbox_.path("bin");
};

TEST_F(DepsScriptTest, AUserWithoutSudoLearnsInOneLineWhatToInstallAsRoot) {
  // Root runs it as the unprivileged "nobody".
  const Outcome run = Deps(geteuid() == 0 ? 65534 : geteuid());
  EXPECT_NE(run.code, 0) << run.output;
  EXPECT_EQ(run.output, std::string("Missing packages must be installed as root: apt-get update && "
                                     "apt-get install --no-install-recommends ") +
                             kAbsent + "\n");
}

TEST_F(DepsScriptTest, ALoginSudoRefusesLearnsInOneLineWhatToInstallAsRoot) {
  // sudo as it answers a login that is not in the sudoers file.
  test::Sandbox::writeFile(bin_ / "sudo", "#!/bin/sh\necho \"$(id -un) is not in the sudoers file.\" >&2\nexit 1\n");
  std::filesystem::permissions(bin_ / "sudo", std::filesystem::perms(0755));
  const uid_t uid = geteuid() == 0 ? 65534 : geteuid();
  const Outcome run = Deps(uid);
  EXPECT_NE(run.code, 0) << run.output;
  const std::string line = std::string("Missing packages must be installed as root: apt-get update && "
                                       "apt-get install --no-install-recommends ") +
                           kAbsent + "\n";
  ASSERT_GE(run.output.size(), line.size()) << run.output;
  EXPECT_EQ(run.output.substr(run.output.size() - line.size()), line) << run.output;
  EXPECT_NE(run.output.find("is not in the sudoers file."), std::string::npos) << run.output;
}

// apt-get's status lines become one line that moves, with the count of
// packages apt-get plans; dpkg's own lines are not shown.
TEST_F(DepsScriptTest, TheInstallShowsItsProgressOnOneLine) {
  // A login with sudo, as root runs without it.
  test::Sandbox::writeFile(bin_ / "sudo", "#!/bin/sh\n[ \"$1\" = -v ] && exit 0\nexec \"$@\"\n");
  test::Sandbox::writeFile(bin_ / "apt-get",
                           "#!/bin/sh\n"
                           "case \"$1\" in\n"
                           "update) exit 0 ;;\n"
                           "-s) printf 'Inst korvo-absent-one (1)\\nInst libneeded (2)\\nInst korvo-absent-two (1)\\n'; exit 0 ;;\n"
                           "esac\n"
                           "echo 'dlstatus:1:0:Retrieving file 1 of 3'\n"
                           "echo 'Selecting previously unselected package libneeded.'\n"
                           "echo 'pmstatus:libneeded:33.3333:Unpacking libneeded (2)'\n"
                           "echo 'pmstatus:korvo-absent-two:100:Installed korvo-absent-two (1)'\n");
  for (const char* tool : {"sudo", "apt-get"}) std::filesystem::permissions(bin_ / tool, std::filesystem::perms(0755));
  const Outcome run = Deps(geteuid());
  EXPECT_EQ(run.code, 0) << run.output;
  // Each step over the last, its text padded to the same width.
  auto step = [](const char* percent, std::string text) {
    text.resize(45, ' ');
    return std::string("\r  ") + percent + " of 3 packages: " + text;
  };
  EXPECT_EQ(run.output, std::string("Installing (this takes some minutes): ") + kAbsent + "\n" +
                            step("  0%", "Retrieving file 1 of 3") + step(" 33%", "Unpacking libneeded (2)") +
                            step("100%", "Installed korvo-absent-two (1)") + "\n");
}

TEST_F(DepsScriptTest, AptGetErrorsShowWithoutTheDebconfNotice) {
  if (geteuid() != 0) GTEST_SKIP() << "installs as root only";
  // apt-get as it answers without apt-utils, for packages it cannot find.
  test::Sandbox::writeFile(bin_ / "apt-get",
                           "#!/bin/sh\n"
                           "echo 'debconf: delaying package configuration, since apt-utils is not installed' >&2\n"
                           "[ \"$1\" = update ] && exit 0\n"
                           "echo 'E: Unable to locate package korvo-absent-one' >&2\n"
                           "exit 100\n");
  std::filesystem::permissions(bin_ / "apt-get", std::filesystem::perms::owner_all);
  const Outcome run = Deps(0);
  EXPECT_NE(run.code, 0) << run.output;
  EXPECT_EQ(run.output, std::string("Installing (this takes some minutes): ") + kAbsent + "\nE: Unable to locate package korvo-absent-one\n");
}

// skipped.sh on a CTest log of its own: the skipped tests with their
// reasons, and nothing for a passed test or a build folder never tested.
TEST(SkippedScriptTest, EachSkippedTestIsNamedWithTheReasonItGave) {
  test::Sandbox box;
  const std::string log =
      "1/3 Testing: Fine.Passes\n1/3 Test: Fine.Passes\nOutput:\n"
      "[ RUN      ] Fine.Passes\n[       OK ] Fine.Passes (0 ms)\n"
      "<end of output>\nTest time =   0.01 sec\nTest Passed.\n"
      "2/3 Testing: Root.Only\n2/3 Test: Root.Only\nOutput:\n[ RUN      ] Root.Only\n"
      "/src/tests/a_test.cpp:12: Skipped\nneeds root to act for other users\n"
      "[  SKIPPED ] Root.Only (0 ms)\n<end of output>\n"
      "3/3 Testing: Bare.Skip\n3/3 Test: Bare.Skip\nOutput:\n[ RUN      ] Bare.Skip\n"
      "/src/tests/b_test.cpp:7: Skipped\n\n[  SKIPPED ] Bare.Skip (0 ms)\n<end of output>\n";
  test::Sandbox::writeFile(box.path("build/Testing/Temporary/LastTest.log"), log);
  struct Case {
    const char* what;
    std::string folder;
    std::string expected;
  };
  const Case cases[] = {
      {"a tested build", box.path("build").string(), "Root.Only: needs root to act for other users\nBare.Skip\n"},
      {"a build never tested", box.path("other").string(), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string command = std::string(KORVO_SCRIPTS_DIR "/skipped.sh '") + c.folder + "'";
    FILE* out = popen(command.c_str(), "r");
    ASSERT_NE(out, nullptr);
    std::string text;
    char buf[512];
    for (size_t n; (n = fread(buf, 1, sizeof buf, out)) > 0;) text.append(buf, n);
    EXPECT_EQ(pclose(out), 0);
    EXPECT_EQ(text, c.expected);
  }
}

}  // namespace
}  // namespace korvo
