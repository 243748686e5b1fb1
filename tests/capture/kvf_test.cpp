// The backend kvf by CUPS's backend convention, run as cupsd runs it: the
// printing user's agent is found, checked and handed the job, and a job it
// cannot hand over is held (status 3) with the reason as its last message.
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
