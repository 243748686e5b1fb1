// The small dialogs of the fax boxes and the server on their models,
// against a real korvohub: the Dispatch Faxes list is fetched once, sorted,
// and OK waits for a choice; Server Parameters refuses out-of-range values
// before any request and sets the rest; the version and recipients texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/userenvironment.h"
#include "manager/server_parameters.h"
#include "manager/user_choice.h"
#include "manager/user_fax_list.h"
#include "tests/manager/manager_fixture.h"
#include "tests/server/queue_fixture.h"

namespace korvo::test {
namespace {

using manager::ServerParameters;
using manager::UserChoice;

class UserDialogsTest : public ManagerFixture {
 protected:
  void SetUp() override {
    ManagerFixture::SetUp();
    GetUserEnvironment().Load();
  }
  ConnectionSettings ServerSettings() {
    ConnectionSettings s;
    EXPECT_EQ(client_.GetServerParameters(".", s).status, 0u);
    return s;
  }
  FakeUi ui_;
};

// The users come at the first opening, sorted without regard to case; the
// second opening asks nothing (the server is gone by then and nothing
// complains). A failed first fetch leaves the list empty and is tried again.
TEST_F(UserDialogsTest, TheUserListIsFetchedOnceAndOkWaitsForAChoice) {
  RegisterUser("zed", 0x02);
  RegisterUser("Bob", 0x02);
  RegisterUser("ana", 0x02);
  UserChoice choice(ui_, Host(), "Forward Faxes");
  EXPECT_EQ(choice.title(), "Forward Faxes");

  choice.OnDropDown();
  ASSERT_EQ(ui_.boxes.size(), 1u) << "no server yet";
  EXPECT_TRUE(choice.names().empty());

  StartHub();
  choice.OnDropDown();
  // The built-in Administrator is one of them.
  std::vector<std::string> expected{"Administrator", "ana", "Bob", OwnLogin(), "zed"};
  std::stable_sort(expected.begin(), expected.end(),
                   [](const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) < 0; });
  EXPECT_EQ(choice.names(), expected);
  EXPECT_EQ(ui_.waitDepth, 0);
  EXPECT_FALSE(choice.OkEnabled());
  EXPECT_EQ(choice.chosen(), "");

  hub_.reset();
  choice.OnDropDown();
  EXPECT_EQ(ui_.boxes.size(), 1u) << ui_.boxes.back().text;
  EXPECT_EQ(choice.names(), expected);

  const auto bob = std::find(expected.begin(), expected.end(), "Bob") - expected.begin();
  choice.Select(static_cast<int>(bob));
  EXPECT_TRUE(choice.OkEnabled());
  EXPECT_EQ(choice.chosen(), "Bob");
  choice.Select(-1);
  EXPECT_FALSE(choice.OkEnabled());
  // No "LST" file stays behind in the data folder.
  for (const auto& e : std::filesystem::directory_iterator(GetUserEnvironment().GetDataPath()))
    EXPECT_TRUE(e.is_directory()) << e.path();
}

// Values out of range are refused with their message and nothing reaches
// the server; good values are set and read back through 2120.
TEST_F(UserDialogsTest, ServerParametersAreCheckedBeforeTheyAreSent) {
  StartHub();
  const ConnectionSettings start = ServerSettings();
  ServerParameters dialog(ui_, start, 0x11E, Host());
  struct Case {
    std::string station, count, interval;
    std::string message;
    int focus;
  };
  const Case refused[] = {
      {"Korvo", "0", "5", "Please enter an integer between 1 and 10.", manager::kServerParametersRetryCount},
      {"Korvo", "11", "5", "Please enter an integer between 1 and 10.", manager::kServerParametersRetryCount},
      {"Korvo", "5", "61", "Please enter an integer between 1 and 60.", manager::kServerParametersRetryInterval},
      {"Korvo", "5", "0", "Please enter an integer between 1 and 60.", manager::kServerParametersRetryInterval},
      {"Korvo", "x", "5", "Please enter an integer.", manager::kServerParametersRetryCount},
      {std::string(21, 'K'), "5", "5", "Please enter no more than 20 characters.",
       manager::kServerParametersStationId},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.station + " " + c.count + " " + c.interval);
    ui_.boxes.clear();
    int focus = 0;
    EXPECT_FALSE(dialog.Apply(c.station, c.count, c.interval, &focus));
    EXPECT_EQ(ui_.Texts(), (std::vector<std::string>{c.message}));
    EXPECT_EQ(focus, c.focus);
  }
  const ConnectionSettings after = ServerSettings();
  EXPECT_EQ(after.Encode(), start.Encode()) << "nothing was sent";

  ui_.boxes.clear();
  EXPECT_TRUE(dialog.Apply(std::string(20, 'S'), "7", "60"));
  EXPECT_TRUE(ui_.boxes.empty());
  const ConnectionSettings set = ServerSettings();
  EXPECT_EQ(set.stationId, std::string(20, 'S'));
  EXPECT_EQ(set.retryAttempts, 7);
  EXPECT_EQ(set.retryInterval, 60);

  // The server gone: its text is shown and the dialog stays.
  hub_.reset();
  EXPECT_FALSE(dialog.Apply("Korvo", "3", "3"));
  ASSERT_EQ(ui_.boxes.size(), 1u);
  EXPECT_NE(ui_.boxes[0].text.find("connect"), std::string::npos) << ui_.boxes[0].text;
}

TEST(ServerVersionText, MinorHasTwoDigits) {
  const std::pair<uint16_t, const char*> cases[] = {{0x11E, "1.30"}, {0x105, "1.05"}, {0x200, "2.00"}, {0xFF63, "255.99"}};
  for (const auto& [version, text] : cases) EXPECT_EQ(manager::VersionText(version), text) << version;
}

TEST(FaxRecipientsLines, InHeaderOrder) {
  FaxHeader h;
  h.recipients.AddTail(Fax("5550100", "Zora"));
  h.recipients.AddTail(Lan("ana"));
  h.recipients.AddTail(Fax("5550102"));
  EXPECT_EQ(manager::RecipientLines(h), (std::vector<std::string>{"Zora", "ana", "5550102"}));
}

}  // namespace
}  // namespace korvo::test
