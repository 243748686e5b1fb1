// Who a session's user is, attacked by ordinary logins over their own
// connections to a real korvohub: a login too long for a user record whose
// first 31 characters are a registered administrator's, and an unregistered
// login flooding the server's log with refused introductions.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/entries.h"
#include "common/status_codes.h"
#include "platform/registry.h"
#include "server/peer_lines.h"
#include "tests/server/hub_fixture.h"
#include "tests/support/private_mounts.h"

namespace korvo {
namespace {

namespace fs = std::filesystem;

constexpr const char* kServer = ".";

class IdentityTest : public test::HubFixture {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to connect as other logins";
    HubFixture::SetUp();
    // Every login reaches the socket.
    fs::permissions(sandbox_.root(), fs::perms(0755));
  }

  // Runs the body on a thread whose effective user is the uid, so its
  // connections carry that login's credentials.
  static void As(uid_t uid, const std::function<void()>& body) {
    std::thread t([&] {
      ASSERT_EQ(syscall(SYS_setresuid, -1, uid, -1), 0);
      body();
    });
    t.join();
  }

  static size_t CountLines(const std::function<bool(const std::string&)>& match) {
    const auto log = test::ServerLog();
    return static_cast<size_t>(std::count_if(log.begin(), log.end(), match));
  }
};

// The system's accounts and these, as a child in a mount namespace of its own
// sees them in /etc/passwd (the rest of /etc is the system's, through links).
// The body runs there; false when the child could not set up or failed.
bool WithAccounts(test::Sandbox& box, const std::string& extra, const std::function<void()>& body) {
  const fs::path etc = box.path("etc"), system = box.path("system-etc");
  fs::create_directories(etc);
  fs::create_directories(system);
  for (const auto& e : fs::directory_iterator("/etc"))
    if (e.path().filename() != "passwd") fs::create_symlink(system / e.path().filename(), etc / e.path().filename());
  test::Sandbox::writeFile(etc / "passwd", test::Sandbox::readFile("/etc/passwd") + extra);
  fs::permissions(etc, fs::perms(0755));
  const pid_t pid = fork();
  if (pid == 0) {
    if (!test::EnterPrivateMounts().empty() || mount("/etc", system.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0 ||
        mount(etc.c_str(), "/etc", nullptr, MS_BIND, nullptr) != 0)
      _exit(2);
    body();
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A login of 32 characters whose first 31 are a registered administrator's
// is no registered user: it has no rights, is told it is not registered, and
// the log names its uid. The administrator itself keeps its rights.
TEST_F(IdentityTest, ALoginTooLongForARecordIsNeverTheUserItsFirst31Spell) {
  if (IsSkipped()) return;
  if (const std::string why = test::PrivateMountsProblem(); !why.empty())
    GTEST_SKIP() << "no private mount namespace for the test's accounts (" << why << ")";
  const std::string admin(31, 'a');
  const std::string longer = admin + "x";
  const std::string accounts = admin + ":x:2100:2100::/nonexistent:/usr/sbin/nologin\n" + longer +
                               ":x:2101:2101::/nonexistent:/usr/sbin/nologin\n";
  const bool ran = WithAccounts(sandbox_, accounts, [&] {
    StartHub();
    RegisteredUserEntry user;
    user.userName = admin;
    user.rights = kRightRegistered | kRightAdministration;
    ASSERT_EQ(client_.ChangeUser(kServer, FaxClient::kAddUser, user).status, 0u);
    As(2101, [&] {
      // The login's own client, and clients that name it whole or cut.
      FaxClient client;
      uint32_t bits = 99;
      ASSERT_EQ(client.GetPermissions(kServer, bits).status, 0u);
      EXPECT_EQ(bits, 0u) << "served as the administrator";
      for (const std::string& name : {longer, admin}) {
        SCOPED_TRACE(name);
        RequestExchange rights(name.c_str());
        ReceivedMessage reply;
        ASSERT_EQ(rights.Run(kServer, FaxClient::kGetPermissions, nullptr, &reply).status, 0u);
        EXPECT_EQ(std::string(reply.Text()), "0") << "served as the administrator";
        RequestExchange list(name.c_str());
        EXPECT_EQ(list.Run(kServer, 6000, nullptr, &reply).status, kStatusNotRegisteredUser);
      }
      RegisteredUserEntry self;
      self.userName = longer;
      self.rights = 63;
      EXPECT_EQ(client.ChangeUser(kServer, FaxClient::kAddUser, self).status, kStatusNotRegisteredUser);
    });
    As(2100, [&] {
      FaxClient client;
      uint32_t bits = 0;
      ASSERT_EQ(client.GetPermissions(kServer, bits).status, 0u);
      EXPECT_EQ(bits, kRightRegistered | kRightAdministration);
    });
    EXPECT_TRUE(test::ServerLogged(
        "[~unknown] The login of uid 2101 does not fit a user record; refused as unregistered"));
    // Nobody registered the long login under its cut name either.
    RegisteredUserEntry stored;
    EXPECT_EQ(client_.GetUser(kServer, longer.c_str(), stored).status, kStatusRecordNotFound);
    hub_.reset();
  });
  EXPECT_TRUE(ran);
}

// An unregistered login's refused introductions under ever new names are its
// lines, limited as one peer's: the log keeps another user's audit line that
// came before the flood, and after the flood one line counts the rest.
TEST_F(IdentityTest, AFloodOfRefusedIntroductionsCannotWrapTheLog) {
  if (IsSkipped()) return;
  // getpwnam's entry is overwritten by the next call.
  const passwd* daemon = getpwnam("daemon");
  if (!daemon) GTEST_SKIP() << "no login daemon";
  const uid_t daemonUid = daemon->pw_uid;
  const passwd* nobody = getpwnam("nobody");
  if (!nobody) GTEST_SKIP() << "no login nobody";
  const uid_t nobodyUid = nobody->pw_uid;
  // The smallest log the store keeps: a flood of a few thousand lines would
  // wrap it.
  ASSERT_EQ(platform::UpdateRegistryHive(platform::RegistryHive::LocalMachine,
                                         [](platform::RegistryHiveData& hive) {
                                           const std::string key = std::string(platform::kEventLogKey) + "\\Korvo";
                                           hive.CreateKey(key);
                                           hive.SetValue(key, "MaxSize", {platform::kRegDword, {0, 0, 1, 0}});
                                           return true;
                                         }),
            platform::RegistryUpdate::kDone);
  StartHub();
  RegisteredUserEntry user;
  user.userName = "daemon";
  user.rights = kRightRegistered;
  ASSERT_EQ(client_.ChangeUser(kServer, FaxClient::kAddUser, user).status, 0u);
  const std::string audit = "[daemon] Not allowed to act for user 'bin'";
  As(daemonUid, [&] {
    RequestExchange exchange("bin");
    ReceivedMessage reply;
    EXPECT_EQ(exchange.Run(kServer, FaxClient::kGetPermissions, nullptr, &reply).status, 0u);
  });
  ASSERT_TRUE(test::ServerLogged(audit));
  constexpr int kFlood = 3000;
  As(nobodyUid, [&] {
    for (int i = 0; i < kFlood; ++i) {
      const std::string name = "user" + std::to_string(i);
      RequestExchange exchange(name.c_str());
      ReceivedMessage reply;
      ASSERT_EQ(exchange.Run(kServer, FaxClient::kGetPermissions, nullptr, &reply).status, 0u) << i;
    }
  });
  EXPECT_TRUE(test::ServerLogged(audit)) << "the flood wrapped the log";
  auto refusals = [](const std::string& l) { return l.rfind("[nobody] Not allowed to act for user '", 0) == 0; };
  EXPECT_EQ(CountLines(refusals), PeerLines::kWrittenInFull);
  // The counts come out as each interval ends, the last when the server
  // stops; together they hold every refusal left out.
  hub_->Signal(SIGINT);
  EXPECT_EQ(hub_->Wait(), 0);
  const std::string prefix = "[nobody] ", suffix = " more failure lines of uid " + std::to_string(nobodyUid) + " in 60 s, not written";
  size_t counted = 0, countLines = 0;
  for (const std::string& line : test::ServerLog()) {
    if (line.rfind(prefix, 0) != 0 || line.size() <= prefix.size() + suffix.size() ||
        line.compare(line.size() - suffix.size(), suffix.size(), suffix) != 0)
      continue;
    counted += std::stoul(line.substr(prefix.size()));
    ++countLines;
  }
  EXPECT_EQ(counted, kFlood - PeerLines::kWrittenInFull);
  EXPECT_GE(countLines, 1u);
  EXPECT_TRUE(test::ServerLogged(audit));
}

}  // namespace
}  // namespace korvo
