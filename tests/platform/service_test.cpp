#include "platform/service.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>

#include "platform/lasterror.h"
#include "platform/sync.h"
#include "tests/support/sandbox.h"

namespace korvo::platform {
namespace {

class ServiceUnitTest : public ::testing::Test {
 protected:
  test::Sandbox sandbox_;
};

TEST_F(ServiceUnitTest, CreateWritesTheUnitAndDeleteRemovesIt) {
  struct Case {
    const char* account;
    const char* userLine;  // nullptr: no User= line
  };
  for (const Case& c : {Case{nullptr, nullptr}, Case{"faxd", "User=faxd\n"}, Case{".\\faxd", "User=faxd\n"},
                        Case{"OFFICE\\fax", "User=fax\n"}}) {
    SCOPED_TRACE(c.account ? c.account : "(none)");
    ASSERT_TRUE(OpenServiceManager());
    EXPECT_FALSE(OpenService("Korvo"));
    EXPECT_EQ(GetLastError(), kErrorFileNotFound);
    ASSERT_TRUE(CreateService("Korvo", "Korvo Server", "/opt/korvo 1.30/korvohub%", c.account, "secret"));
    const auto unit = sandbox_.systemdDir() / "korvo.service";
    ASSERT_EQ(ServiceUnitPath("Korvo"), unit.string());
    const std::string text = test::Sandbox::readFile(unit);
    EXPECT_NE(text.find("Description=Korvo Server\n"), std::string::npos);
    EXPECT_NE(text.find("Type=notify\n"), std::string::npos);
    EXPECT_NE(text.find("LimitNOFILE=16384\n"), std::string::npos) << text;
    EXPECT_NE(text.find("ExecStart=\"/opt/korvo 1.30/korvohub%%\"\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("secret"), std::string::npos);
    if (c.userLine) EXPECT_NE(text.find(c.userLine), std::string::npos) << text;
    else EXPECT_EQ(text.find("User="), std::string::npos);

    EXPECT_FALSE(CreateService("Korvo", "Korvo Server", "/x", nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<uint32_t>(EEXIST));
    EXPECT_TRUE(OpenService("Korvo"));
    EXPECT_FALSE(ControlServiceStop("Korvo")) << "systemd does not read the sandbox's folder";
    EXPECT_EQ(QueryServiceState("Korvo"), kServiceStopped);
    ASSERT_TRUE(DeleteService("Korvo"));
    EXPECT_FALSE(std::filesystem::exists(unit));
    EXPECT_FALSE(DeleteService("Korvo"));
  }
}

TEST_F(ServiceUnitTest, UnitTextCannotBeInjected) {
  for (const char* account : {"a b", "x\nExecStartPre=/bin/evil", "q\"uote"}) {
    EXPECT_FALSE(CreateService("Korvo", "Korvo Server", "/x", account, nullptr)) << account;
    EXPECT_EQ(GetLastError(), static_cast<uint32_t>(EINVAL));
  }
  EXPECT_FALSE(CreateService("Korvo", "Korvo Server", "/x\n[Service]", nullptr, nullptr));
  EXPECT_FALSE(std::filesystem::exists(sandbox_.systemdDir() / "korvo.service"));
}

TEST_F(ServiceUnitTest, AMissingUnitFolderFailsTheManager) {
  sandbox_.setEnv("KORVO_SYSTEMD_DIR", sandbox_.path("nowhere").string());
  EXPECT_FALSE(OpenServiceManager());
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
}

// A datagram socket standing in for systemd's notification socket.
class NotifySocket {
 public:
  explicit NotifySocket(const std::string& path) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    ok_ = fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  }
  ~NotifySocket() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return ok_; }
  std::string Next() {
    char buf[1024];
    ssize_t n = recv(fd_, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
  }

 private:
  int fd_ = -1;
  bool ok_ = false;
};

TEST(ServiceStatusTest, StatesBecomeNotifyLines) {
  test::Sandbox sandbox;
  const std::string path = sandbox.path("notify").string();
  NotifySocket notify(path);
  ASSERT_TRUE(notify.ok());
  sandbox.setEnv("NOTIFY_SOCKET", path);
  struct Case {
    uint32_t state, waitHint, exitCode;
    const char* expect;
  };
  for (const Case& c : {Case{kServiceStartPending, 10000, 0, "STATUS=Starting\nEXTEND_TIMEOUT_USEC=10000000"},
                        Case{kServiceRunning, 0, 0, "READY=1\nSTATUS=Running"},
                        Case{kServiceStopPending, 0, 0, "STOPPING=1\nSTATUS=Stopping"},
                        Case{kServiceStopped, 0, 2, "STATUS=Stopped\nERRNO=2"}}) {
    ServiceStatus st;
    st.currentState = c.state;
    st.waitHint = c.waitHint;
    st.win32ExitCode = c.exitCode;
    ASSERT_TRUE(SetServiceStatus(st));
    EXPECT_EQ(notify.Next(), c.expect);
  }
}

std::atomic<uint32_t> gLastControl{0};
Event* gControlSeen = nullptr;

void RecordControl(uint32_t control) {
  gLastControl = control;
  gControlSeen->Set();
}

void ServiceMainThatTakesControls(int argc, char** argv) {
  ASSERT_EQ(argc, 1);
  EXPECT_STREQ(argv[0], "Korvo");
  ASSERT_TRUE(RegisterServiceCtrlHandler("Korvo", RecordControl));
  for (auto [sig, control] : {std::pair{SIGUSR1, kServiceControlPause}, std::pair{SIGUSR2, kServiceControlContinue},
                              std::pair{SIGTERM, kServiceControlStop}}) {
    gControlSeen->Reset();
    kill(getpid(), sig);
    ASSERT_TRUE(gControlSeen->Wait(kInfinite));
    EXPECT_EQ(gLastControl, control);
  }
}

TEST(ServiceDispatchTest, SignalsArriveAsControls) {
  test::Sandbox sandbox;
  Event seen;
  gControlSeen = &seen;
  unsetenv("NOTIFY_SOCKET");
  unsetenv("INVOCATION_ID");
  EXPECT_FALSE(StartServiceCtrlDispatcher("Korvo", ServiceMainThatTakesControls));
  EXPECT_FALSE(RegisterServiceCtrlHandler("Korvo", RecordControl));
  sandbox.setEnv("INVOCATION_ID", "0123456789abcdef");
  EXPECT_TRUE(StartServiceCtrlDispatcher("Korvo", ServiceMainThatTakesControls));
}

std::atomic<int> gConsoleEvents{0};

bool CountConsole(uint32_t event) {
  gConsoleEvents += event == kCtrlCEvent ? 1 : 100;
  gControlSeen->Set();
  return true;
}

TEST(ConsoleControlTest, CtrlCAndCtrlBreakReachTheHandler) {
  Event seen;
  gControlSeen = &seen;
  ASSERT_TRUE(SetConsoleCtrlHandler(CountConsole, true));
  for (int sig : {SIGINT, SIGQUIT}) {
    seen.Reset();
    kill(getpid(), sig);
    ASSERT_TRUE(seen.Wait(kInfinite));
  }
  EXPECT_EQ(gConsoleEvents, 101);
  EXPECT_TRUE(SetConsoleCtrlHandler(nullptr, false));
}

}  // namespace
}  // namespace korvo::platform
