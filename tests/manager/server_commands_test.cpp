#include <gtest/gtest.h>

#include "common/status.h"
#include "common/status_codes.h"
#include "common/wire.h"
#include "manager/list_pane.h"
#include "manager/manager_ids.h"
#include "tests/manager/manager_fixture.h"

namespace korvo::test {
namespace {

using namespace manager;

const int kServerCommands[] = {kCmdStartServer,   kCmdShutDownConditionally, kCmdShutDownUnconditionally,
                               kCmdSuspendServer, kCmdResumeServer,          kCmdServerParameters};

class ServerCommandsTest : public ManagerFixture {
 protected:
  void SetUp() override {
    ManagerFixture::SetUp();
    OpenDocument();
  }
  // Opens the tree with the host's node selected.
  void SelectHost() {
    model_->Build();
    Select({"Fax Servers", UpperCase(Host())});
  }
  std::vector<int> Enabled() {
    std::vector<int> ids;
    for (int id : kServerCommands) {
      CommandUi ui;
      EXPECT_TRUE(doc_->RouteUpdate(model_.get(), id, ui)) << id;
      if (ui.enabled) ids.push_back(id);
    }
    return ids;
  }
  bool Suspended() {
    int flag = 0;
    EXPECT_EQ(client_.IsServerSuspended(".", flag).status, 0u);
    return flag != 0;
  }
};

// Which server commands the menu offers, by the state of the server: each
// enabling asks the server (or its service) itself.
TEST_F(ServerCommandsTest, EnablingFollowsTheServersState) {
  struct Case {
    const char* state;
    std::vector<int> enabled;
  };
  const std::vector<int> running = {kCmdShutDownConditionally, kCmdShutDownUnconditionally, kCmdSuspendServer,
                                    kCmdServerParameters};
  const std::vector<int> suspended = {kCmdShutDownConditionally, kCmdShutDownUnconditionally, kCmdResumeServer,
                                      kCmdServerParameters};
  const Case cases[] = {{"stopped", {kCmdStartServer}}, {"running", running}, {"suspended", suspended}};
  SelectHost();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    if (std::string(c.state) == "running") StartHub();
    if (std::string(c.state) == "suspended") {
      ASSERT_EQ(client_.SendCommand(".", 3020).status, 0u);
    }
    EXPECT_EQ(Enabled(), c.enabled);
  }
}

TEST_F(ServerCommandsTest, ShutDownUnconditionallyAsksFirst) {
  StartHub();
  SelectHost();
  ui_.answers = {desktop::Answer::No};
  EXPECT_TRUE(doc_->Route(model_.get(), kCmdShutDownUnconditionally));
  ASSERT_EQ(ui_.boxes.size(), 1u);
  EXPECT_EQ(ui_.boxes[0].text, "Are you sure you want to shut down the server?");
  EXPECT_EQ(ui_.boxes[0].caption, "Confirm Server Shut Down");
  EXPECT_EQ(ui_.boxes[0].buttons, desktop::Buttons::YesNo);
  // No: nothing was sent, the server goes on.
  EXPECT_FALSE(Suspended());

  ui_.answers = {desktop::Answer::Yes};
  EXPECT_TRUE(doc_->Route(model_.get(), kCmdShutDownUnconditionally));
  EXPECT_EQ(hub_->Wait(), 0);
  EXPECT_EQ(ui_.boxes.size(), 2u);
}

// A session held open by another client that only did its handshake.
class OtherClient {
 public:
  OtherClient() {
    link_.Open(".");
    link_.SendText(kTagIntroduce, OwnLogin().c_str());
    const uint8_t version[4] = {uint8_t(kProtocolVersion), uint8_t(kProtocolVersion >> 8), 0, 0};
    link_.SendData(kTagReportClientVersion, version, 4);
    link_.SendText(90, nullptr);  // answered: the session runs
    ReceivedMessage reply;
    link_.Receive(&reply);
  }

 private:
  ClientMessageLink link_;
};

TEST_F(ServerCommandsTest, ShutDownConditionallyWithAnotherClientShowsWhy) {
  StartHub();
  SelectHost();
  OtherClient other;
  EXPECT_TRUE(doc_->Route(model_.get(), kCmdShutDownConditionally));
  ASSERT_EQ(ui_.boxes.size(), 2u);
  // The result's text: the server's error with the code's own text.
  EXPECT_EQ(ui_.boxes[1].text, "Operation failed. Server sent an error indication:\n" +
                                   GetStatusText(kStatusShutdownConnectionsActive));
  EXPECT_EQ(GetStatusText(kStatusShutdownConnectionsActive), "Shutdown, some connections are still active.");
  EXPECT_FALSE(Suspended());
}

TEST_F(ServerCommandsTest, SuspendThenResume) {
  StartHub();
  SelectHost();
  EXPECT_TRUE(doc_->Route(model_.get(), kCmdSuspendServer));
  EXPECT_TRUE(Suspended());
  EXPECT_TRUE(doc_->Route(model_.get(), kCmdResumeServer));
  EXPECT_FALSE(Suspended());
  EXPECT_TRUE(ui_.boxes.empty()) << ui_.boxes[0].text;
}

// The sandbox's server is not a unit systemd manages: it cannot be started
// from here.
TEST_F(ServerCommandsTest, StartWhereSystemdDoesNotManageTheServiceFails) {
  SelectHost();
  EXPECT_TRUE(doc_->Route(model_.get(), kCmdStartServer));
  EXPECT_EQ(ui_.Texts(), std::vector<std::string>{"Couldn't start Korvo service. Check your permissions"});
  EXPECT_EQ(ui_.waitDepth, 0);
}

TEST_F(ServerCommandsTest, ParametersOpenWithTheVersionOrShowTheFailure) {
  RegisterUser("clerk", 0x22);
  StartHub();
  SelectHost();
  EXPECT_TRUE(doc_->Route(model_.get(), kCmdServerParameters));
  EXPECT_TRUE(ui_.boxes.empty());
  EXPECT_EQ(parameters_, std::vector<std::string>{UpperCase(Host()) + " " + std::to_string(MakeVersion(1, 30))});

  // Without the administration right the parameters (2120) are refused.
  ASSERT_EQ(model_->client().ActForUser(".", "clerk"), 1);
  ConnectionSettings settings;
  const RequestResult refused = ClientFor("clerk").GetServerParameters(".", settings);
  ASSERT_NE(refused.status, 0u);
  EXPECT_TRUE(doc_->Route(model_.get(), kCmdServerParameters));
  EXPECT_EQ(ui_.Texts(), std::vector<std::string>{refused.text});
  EXPECT_EQ(parameters_.size(), 1u);
}

// A command goes to the active view first, then to the others: the list's
// commands work while the tree is active, the server's while the list is.
TEST_F(ServerCommandsTest, CommandsReachTheirViewWhicheverIsActive) {
  StartHub();
  ListModel list(ui_);
  ListPane pane(list, [this] { return model_->GetSelection(); });
  doc_->AddView(&pane);
  SelectHost();
  ASSERT_NE(list.current(), nullptr);
  EXPECT_EQ(list.current()->GetTitle(), "Server Folders");  // one settings key for every server

  // The tree is active: a list command.
  EXPECT_TRUE(doc_->Route(model_.get(), kCmdEnableRefresh));
  EXPECT_EQ(list.refresh().enabled, 1);
  CommandUi ui;
  EXPECT_TRUE(doc_->RouteUpdate(model_.get(), kCmdDisableRefresh, ui));
  EXPECT_TRUE(ui.enabled);
  // The list is active: a server command.
  EXPECT_TRUE(doc_->Route(&pane, kCmdSuspendServer));
  EXPECT_TRUE(Suspended());
  // Nobody's command.
  EXPECT_FALSE(doc_->Route(&pane, 12345));
  list.Close();
  doc_->RemoveView(&pane);
}

}  // namespace
}  // namespace korvo::test
