// The backend kvf by CUPS's backend convention, run as cupsd runs it: the
// printing user's agent is found, checked and handed the job, and a job it
// cannot hand over is held (status 3) with the reason as its last message.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>

#include "capture/capture_agent.h"
#include "platform/local_socket.h"
#include "tests/capture/programs.h"
#include "tests/support/sandbox.h"

namespace {

using namespace korvo::test;
namespace fs = std::filesystem;

constexpr int kBackendHold = 3, kBackendCancel = 5;

class Backend : public ::testing::Test {
 protected:
  void SetUp() override {
    Sandbox::writeFile(box_.path("job.prn"), "BDBPEPED");
    Sandbox::writeFile(box_.machineHive(),
                       "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Velmora Technologies\\Korvo]\n"
                       "\"KorvoCore\"=\"" KORVO_CORE_LIBRARY "\"\n\"DefaultUsersDataPath\"=\"" +
                           box_.path("users").string() + "/\"\n");
    // The backend may act as another user, who must reach the sandbox.
    fs::permissions(box_.root(), fs::perms(0755));
  }

  int Run(const std::string& user, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> argv = {(BuildDir() / "capture/kvf").string(), "12", user, "title", "1", ""};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return RunProgram({argv, box_.path("job.prn"), box_.path("out.txt"), box_.path("err.txt"),
                       {"KORVO_RUNTIME_ROOT=" + Root().string(), "PRINTER=Korvo_Printer"}});
  }
  std::string Said() const { return Sandbox::readFile(box_.path("err.txt")); }
  // The job shows the last message.
  std::string LastMessage() const {
    std::string said = Said();
    if (!said.empty() && said.back() == '\n') said.pop_back();
    return said.substr(said.rfind('\n') + 1);
  }
  fs::path Root() const { return box_.path("runtime-root"); }
  fs::path AgentFolder(uid_t uid) const { return Root() / std::to_string(uid) / "korvo"; }
  static std::string Me() { return getpwuid(getuid())->pw_name; }

  Sandbox box_;
};

TEST_F(Backend, ListsItsDevice) {
  ASSERT_EQ(RunProgram({{(BuildDir() / "capture/kvf").string()}, "/dev/null", box_.path("out.txt"), box_.path("err.txt"), {}}), 0);
  EXPECT_EQ(Sandbox::readFile(box_.path("out.txt")), "direct kvf:/ \"Korvo Printer\" \"Korvo Printer (print to fax)\"\n");
}

TEST_F(Backend, HoldsTheJobWhenNoAgentCanTakeIt) {
  EXPECT_EQ(Run("no-such-user-here"), kBackendHold);
  EXPECT_NE(LastMessage().find("ERROR: Held: no local user is called no-such-user-here."), std::string::npos) << Said();

  EXPECT_EQ(Run(Me()), kBackendHold);
  EXPECT_NE(LastMessage().find("ERROR: Held: no capture agent runs for " + Me() + " (no private folder"),
            std::string::npos)
      << Said();
  EXPECT_NE(LastMessage().find("then release the job: lp -i 12 -H resume"), std::string::npos) << Said();

  // A folder others may write is not the user's private one.
  fs::create_directories(AgentFolder(getuid()));
  fs::permissions(AgentFolder(getuid()), fs::perms(0777));
  EXPECT_EQ(Run(Me()), kBackendHold);
  EXPECT_NE(LastMessage().find("(no private folder"), std::string::npos) << Said();

  fs::permissions(AgentFolder(getuid()), fs::perms(0700));
  EXPECT_EQ(Run(Me()), kBackendHold);
  EXPECT_NE(LastMessage().find("No such file or directory at " + (AgentFolder(getuid()) / "capture").string()),
            std::string::npos)
      << Said();
}

// Whoever listens in the user's folder must be that user by the kernel's
// word: here the test (root) listens in the folder of "nobody".
TEST_F(Backend, AnAgentRunByAnotherUserIsNotHandedTheJob) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  const fs::path folder = AgentFolder(nobody->pw_uid);
  fs::create_directories(folder);
  fs::permissions(folder.parent_path().parent_path(), fs::perms(0755));
  fs::permissions(folder.parent_path(), fs::perms(0755));
  fs::permissions(folder, fs::perms(0700));
  korvo::platform::LocalListener impostor;
  ASSERT_TRUE(impostor.Listen((folder / "capture").string(), 4, 0600));
  ASSERT_EQ(chown(folder.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
  ASSERT_EQ(chown((folder / "capture").c_str(), nobody->pw_uid, nobody->pw_gid), 0);
  EXPECT_EQ(Run("nobody"), kBackendHold);
  EXPECT_NE(LastMessage().find("is not run by nobody"), std::string::npos) << Said();
  impostor.Close();
}

// The agent cannot start the capture (here: no spooler to open the printer
// on), so the job is cancelled as the port functions ask.
TEST_F(Backend, AJobTheAgentRefusesIsCancelled) {
  const fs::path runtime = Root() / std::to_string(getuid());
  fs::create_directories(runtime);
  fs::permissions(runtime, fs::perms(0700));
  box_.setEnv("XDG_RUNTIME_DIR", runtime.string());
  box_.setEnv("CUPS_SERVER", box_.path("no-cupsd.sock").string());
  box_.setEnv("DISPLAY", ":75");
  korvo::capture::CaptureAgent agent;
  ASSERT_TRUE(agent.Start()) << agent.Problem();
  EXPECT_EQ(fs::status(AgentFolder(getuid())).permissions(), fs::perms(0700));
  EXPECT_EQ(fs::status(AgentFolder(getuid()) / "capture").permissions(), fs::perms(0600));
  std::thread agentThread([&] { agent.Run(); });
  const int rc = Run(Me());
  agent.Stop();
  agentThread.join();
  EXPECT_EQ(rc, kBackendCancel) << Said();
  EXPECT_NE(LastMessage().find("ERROR: The capture agent of " + Me() + " could not capture the job"),
            std::string::npos)
      << Said();
  EXPECT_EQ(agent.JobsHandled(), 1u);
}

}  // namespace

namespace {

// An agent with no display to show the dialog on takes no job: the job is
// held, saying so, and nothing is captured (it once was captured and purged
// with no dialog at all).
TEST_F(Backend, AnAgentWithoutADisplayTakesNoJob) {
  const fs::path runtime = Root() / std::to_string(getuid());
  fs::create_directories(runtime);
  fs::permissions(runtime, fs::perms(0700));
  box_.setEnv("XDG_RUNTIME_DIR", runtime.string());
  box_.setEnv("DISPLAY", "");
  box_.setEnv("WAYLAND_DISPLAY", "");
  korvo::capture::CaptureAgent agent;
  ASSERT_TRUE(agent.Start()) << agent.Problem();
  std::thread agentThread([&] { agent.Run(); });
  const int rc = Run(Me());
  agent.Stop();
  agentThread.join();
  EXPECT_EQ(rc, kBackendHold) << Said();
  EXPECT_NE(LastMessage().find("ERROR: Held: the capture agent of " + Me() +
                               " runs without a display for the Send Fax dialog."),
            std::string::npos)
      << Said();
  EXPECT_FALSE(fs::exists(box_.path("users")));
}

}  // namespace

namespace {

// cupsd runs a backend as root only when its mode is 0700; one installed
// with another mode runs as the spooler's own user and cannot act as the
// printing user. The job is held with the reason named (it once said
// "cannot act as that user: Success.").
TEST_F(Backend, ABackendNotRunAsRootSaysItsModeIsWhy) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the backend as another user";
  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  const fs::path backend = box_.path("kvf");
  fs::copy_file(BuildDir() / "capture/kvf", backend);
  fs::permissions(backend, fs::perms(0755));
  const uid_t uid = nobody->pw_uid;
  const gid_t gid = nobody->pw_gid;
  const std::string input = box_.path("job.prn").string(), errors = box_.path("err.txt").string();
  Sandbox::writeFile(errors, "");
  ASSERT_EQ(chown(errors.c_str(), uid, gid), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const int in = open(input.c_str(), O_RDONLY), err = open(errors.c_str(), O_WRONLY | O_TRUNC);
    if (in < 0 || err < 0 || dup2(in, 0) < 0 || dup2(err, 2) < 0 || setgroups(0, nullptr) != 0 || setgid(gid) != 0 ||
        setuid(uid) != 0)
      _exit(126);
    execl(backend.c_str(), "kvf:/", "12", "root", "title", "1", "", static_cast<char*>(nullptr));
    _exit(127);
  }
  EXPECT_EQ(WaitForProgram(pid), kBackendHold) << Said();
  EXPECT_NE(LastMessage().find("ERROR: Held: the backend kvf runs as nobody, not as root: its mode is 0755, and "
                               "cupsd runs a backend as root only with mode 0700."),
            std::string::npos)
      << Said();
}

}  // namespace
