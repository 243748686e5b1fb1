// The server's service as setup and the manager see it: the unit written,
// enabled and removed in a sandboxed unit folder, and "running" asked of a
// real korvohub started as systemd starts it.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "common/settings.h"
#include "core/install/install.h"
#include "platform/lasterror.h"
#include "platform/local_socket.h"
#include "tests/server/hub_fixture.h"
#include "tests/server/systemd_notify.h"
#include "tests/support/sandbox.h"

namespace korvo {
namespace {

namespace fs = std::filesystem;

class ServiceControl : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("NOTIFY_SOCKET");
    unsetenv("INVOCATION_ID");
  }
  fs::path unit() const { return sandbox_.systemdDir() / "korvo.service"; }
  fs::path link() const { return sandbox_.systemdDir() / "multi-user.target.wants" / "korvo.service"; }
  std::string unitText() const { return test::Sandbox::readFile(unit()); }

  test::Sandbox sandbox_;
};

TEST_F(ServiceControl, InstalledUnitStartsWithTheMachineAndKeepsTheInstallersFolders) {
  sandbox_.setEnv("KORVO_SYSTEM_ROOT", sandbox_.path("100% \"sys\\root\"").string());
  const std::string program = sandbox_.path("opt/korvo dir/korvohub").string();
  ASSERT_EQ(InstallServerService(nullptr, program.c_str(), nullptr, nullptr), 1) << platform::GetLastError();

  const std::string text = unitText();
  EXPECT_NE(text.find("Description=Korvo Server\n"), std::string::npos) << text;
  EXPECT_NE(text.find("ExecStart=\"" + program + "\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("[Install]\nWantedBy=multi-user.target\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("User="), std::string::npos) << "the system account: root";
  for (const char* name : {"KORVO_MACHINE_HIVE", "KORVO_USER_HIVE", "KORVO_PIPE_DIR", "KORVO_LOG_DIR",
                           "KORVO_SYSTEMD_DIR", "KORVO_TRACE"}) {
    const std::string line = "Environment=\"" + std::string(name) + "=" + getenv(name) + "\"\n";
    EXPECT_NE(text.find(line), std::string::npos) << line << text;
  }
  // Quotes and backslashes escaped, % doubled: systemd reads the value back
  // as it was.
  EXPECT_NE(text.find("Environment=\"KORVO_SYSTEM_ROOT=" + sandbox_.root().string() + "/100%% \\\"sys\\\\root\\\"\"\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("Environment=\"PATH="), std::string::npos) << "only the installation's own variables";

  ASSERT_TRUE(fs::is_symlink(link()));
  EXPECT_EQ(fs::read_symlink(link()), unit());

  // A second install leaves the first unit as it is.
  EXPECT_EQ(InstallServerService(".", "/elsewhere/korvohub", nullptr, nullptr), 0);
  EXPECT_EQ(platform::GetLastError(), static_cast<uint32_t>(EEXIST));
  EXPECT_EQ(unitText(), text);

  ASSERT_EQ(RemoveServerService(nullptr), 1) << platform::GetLastError();
  EXPECT_FALSE(fs::exists(unit()));
  EXPECT_FALSE(fs::is_symlink(link()));
  EXPECT_FALSE(fs::exists(link().parent_path())) << "the .wants folder goes with its last link";
  EXPECT_EQ(RemoveServerService(nullptr), 0);
  EXPECT_EQ(platform::GetLastError(), static_cast<uint32_t>(ENOENT));
  EXPECT_EQ(IsServerServiceRunning(nullptr, nullptr, nullptr), 1) << "no systemd here: the pipe answers for it";
}

TEST_F(ServiceControl, AnAccountBecomesTheUnitsUser) {
  ASSERT_EQ(InstallServerService(nullptr, "/opt/korvo/korvohub", "OFFICE\\fax", "secret"), 1);
  EXPECT_NE(unitText().find("User=fax\n"), std::string::npos) << unitText();
  EXPECT_EQ(unitText().find("secret"), std::string::npos);
  EXPECT_EQ(RemoveServerService(nullptr), 1);
}

// A value no unit line can carry installs nothing, rather than a unit that
// runs the server elsewhere.
TEST_F(ServiceControl, AVariableWithALineBreakInstallsNothing) {
  sandbox_.setEnv("KORVO_SYSTEM_ROOT", "/tmp/x\nExecStartPre=/bin/false");
  EXPECT_EQ(InstallServerService(nullptr, "/opt/korvo/korvohub", nullptr, nullptr), 0);
  EXPECT_EQ(platform::GetLastError(), static_cast<uint32_t>(EINVAL));
  EXPECT_FALSE(fs::exists(unit()));
  EXPECT_FALSE(fs::exists(link().parent_path()));
}

// Without systemd over the unit folder there is nobody to start or stop the
// unit: both fail, on this machine by any of its names and on another one.
TEST_F(ServiceControl, WithoutSystemdStartAndStopFail) {
  ASSERT_EQ(InstallServerService(nullptr, "/opt/korvo/korvohub", nullptr, nullptr), 1);
  const std::string own = platform::ComputerName();
  for (const char* machine : {static_cast<const char*>(nullptr), "", ".", own.c_str(), "elsewhere.invalid"}) {
    SCOPED_TRACE(machine ? machine : "(none)");
    platform::SetLastError(0);
    EXPECT_EQ(StartServerService(machine), 0);
    EXPECT_NE(platform::GetLastError(), 0u);
    platform::SetLastError(0);
    EXPECT_EQ(StopServerService(machine), 0);
    EXPECT_NE(platform::GetLastError(), 0u);
  }
  EXPECT_EQ(InstallServerService("elsewhere.invalid", "/opt/korvo/korvohub", nullptr, nullptr), 0);
  EXPECT_EQ(RemoveServerService("elsewhere.invalid"), 0);
  EXPECT_TRUE(fs::exists(unit()));
  EXPECT_EQ(RemoveServerService(nullptr), 1);
}

TEST_F(ServiceControl, RunningIsAServerAnsweringOnThePipe) {
  ASSERT_EQ(KvWriteRegStr("Server", "RootPath", sandbox_.path("server").c_str()), 1);
  ASSERT_EQ(KvWriteRegDword("Server", "TcpIp", 0), 1);
  ASSERT_EQ(KvWriteRegDword("Server", "Pipes", 1), 1);
  const std::string own = platform::ComputerName();
  auto runningOn = [](const char* machine) {
    int running = -1;
    EXPECT_EQ(IsServerServiceRunning(machine, &running, nullptr), 1);
    return running;
  };
  EXPECT_EQ(runningOn(nullptr), 0);
  // A socket file left by a server that is gone answers nothing.
  test::Sandbox::writeFile(sandbox_.pipeDir() / "Korvo", "");
  EXPECT_EQ(runningOn("."), 0);
  fs::remove(sandbox_.pipeDir() / "Korvo");

  test::Notify notify(sandbox_);
  test::HubProcess hub(std::vector<std::string>{});
  ASSERT_TRUE(hub.started());
  ASSERT_TRUE(notify.WaitFor("READY=1")) << hub.output();
  for (const char* machine : {static_cast<const char*>(nullptr), "", ".", own.c_str()}) {
    SCOPED_TRACE(machine ? machine : "(none)");
    EXPECT_EQ(runningOn(machine), 1);
  }
  int running = -1;
  EXPECT_EQ(IsServerServiceRunning(nullptr, &running, "korvo"), 1);
  EXPECT_EQ(running, 1);

  hub.Signal(SIGTERM);
  ASSERT_TRUE(notify.WaitFor("STATUS=Stopped"));
  EXPECT_EQ(hub.Wait(), 0);
  EXPECT_EQ(runningOn(nullptr), 0);
}

}  // namespace
}  // namespace korvo
