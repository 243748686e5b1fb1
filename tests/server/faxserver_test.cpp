#include "server/faxserver.h"

#include <gtest/gtest.h>

#include "common/settings.h"
#include "common/status_codes.h"
#include "server/journal.h"
#include "server/syslog.h"
#include "tests/support/sandbox.h"

namespace korvo {
namespace {

class FaxServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("NOTIFY_SOCKET");
    root_ = sandbox_.path("root").string();
    ASSERT_EQ(KvWriteRegStr("Server", "RootPath", root_.c_str()), 1);
    ASSERT_EQ(KvWriteRegDword("Server", "Pipes", 1), 1);
  }
  test::Sandbox sandbox_;
  std::string root_;
};

TEST_F(FaxServerTest, BuildsTheModulesAndTheirPathsAndDeletesThemAgain) {
  int ok = 0;
  {
    FaxServer server(&ok);
    ASSERT_EQ(ok, 1);
    EXPECT_EQ(g_FaxServer, &server);
    EXPECT_STREQ(server.GetRootPath(), root_.c_str());
    ASSERT_NE(g_SysLog, nullptr);
    ASSERT_NE(g_Journal, nullptr);
    const ServerPaths& p = GetServerPaths();
    EXPECT_EQ(p.queueList, root_ + "/Queue/Queue.lst");
    EXPECT_EQ(p.logFile, root_ + "/Config/Korvo.log");
    EXPECT_EQ(p.regUsers, root_ + "/Config/RegUsers.dbs");
    EXPECT_EQ(p.junkSenders, root_ + "/Config/Denied.dbs");
    EXPECT_EQ(p.addressBook, root_ + "/Books/Address.bok");
    EXPECT_EQ(g_Journal->GetPath(), root_ + "/Config/Journal.dbs");
  }
  EXPECT_EQ(g_FaxServer, nullptr);
  EXPECT_EQ(g_SysLog, nullptr);
  EXPECT_EQ(g_Journal, nullptr);
}

TEST_F(FaxServerTest, SuspendAndResumeAnswerTheCurrentMode) {
  int ok = 0;
  FaxServer server(&ok);
  ASSERT_EQ(ok, 1);
  struct Step {
    bool suspend;
    Status expect;
    bool suspendedAfter;
  };
  for (const Step& s : {Step{false, kStatusServerNotSuspended, false}, Step{true, kStatusSuccess, true},
                        Step{true, kStatusServerSuspended, true}, Step{false, kStatusSuccess, false},
                        Step{false, kStatusServerNotSuspended, false}}) {
    EXPECT_EQ(s.suspend ? server.Suspend() : server.Resume(), s.expect);
    EXPECT_EQ(server.IsSuspended(), s.suspendedAfter);
  }
}

TEST_F(FaxServerTest, WithoutRootPathNothingIsBuilt) {
  ASSERT_EQ(KvWriteRegStr("Server", "Other", "x"), 1);
  sandbox_.setEnv("KORVO_MACHINE_HIVE", sandbox_.path("empty.reg").string());
  int ok = 1;
  {
    FaxServer server(&ok);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(g_SysLog, nullptr);
    EXPECT_EQ(g_Journal, nullptr);
  }
  EXPECT_FALSE(std::filesystem::exists(root_));
}

}  // namespace
}  // namespace korvo
