// KorvoBell's polls against a real korvohub: faxes for the test's login fill
// its inbox, a fax the server cannot send comes back at once, and a fax
// received on the simulated line lands in the dispatch box. Each poll asks
// through "NTF" reply files of the data folder, which never stay behind.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>

#include "common/entries.h"
#include "common/fax_header.h"
#include "notifier/notifier.h"
#include "tests/server/line_hub_fixture.h"
#include "tests/server/queue_fixture.h"

namespace korvo::notifier {
namespace {

constexpr const char* kServer = ".";

class NotifierHubTest : public test::LineHubFixture {
 protected:
  void SetUp() override {
    LineHubFixture::SetUp();
    ASSERT_EQ(KvSetDefaultServer(kServer), 1);
    dataPath_ = sandbox_.path("client").string() + "/";
    std::filesystem::create_directories(dataPath_);
  }
  std::unique_ptr<Notifier> Make(bool sound = true) {
    NotifyOptions options;
    options.Load();
    options.sound = sound;
    return std::make_unique<Notifier>(options, dataPath_);
  }
  // Ticks up to and including the next poll.
  TickResult Poll(Notifier& n) {
    for (int i = 0; i < 12; ++i) {
      TickResult r = n.Tick();
      EXPECT_FALSE(NtfFileLeft());
      if (r.polled) return r;
    }
    ADD_FAILURE() << "no poll within a minute of ticks";
    return {};
  }
  bool NtfFileLeft() {
    for (auto& e : std::filesystem::directory_iterator(dataPath_))
      if (e.path().filename().string().rfind("NTF", 0) == 0) return true;
    return false;
  }
  void Send(const FaxSenderOrRecipient& to) {
    const std::string image = TempPath("image.tif");
    test::WriteFaxFile(image, 1);
    FaxHeader header;
    header.sender = test::Lan(test::OwnLogin());
    header.subject = "Bell";
    header.recipients.AddTail(to);
    header.sendTime = ScheduleTimeInfo(ScheduleTimeInfo::kAtChosenTime, static_cast<int32_t>(std::time(nullptr)));
    ASSERT_EQ(client_.SendFax(kServer, header, image).status, 0u);
  }
  size_t Listed(uint32_t code) {
    const std::string path = TempPath("list.txt");
    EXPECT_EQ(client_.DownloadList(kServer, code, nullptr, path).status, 0u);
    const size_t n = test::ListLines(test::Sandbox::readFile(path)).size();
    std::filesystem::remove(path);
    return n;
  }
  void WaitListed(uint32_t code, size_t n) {
    for (int i = 0; i < 12000 && Listed(code) != n; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(Listed(code), n) << code;
  }
  // Fetches (and so takes out of the inbox) the first fax listed.
  void FetchFirst(uint32_t code) {
    const std::string path = TempPath("list.txt");
    ASSERT_EQ(client_.DownloadList(kServer, code, nullptr, path).status, 0u);
    auto lines = test::ListLines(test::Sandbox::readFile(path));
    ASSERT_FALSE(lines.empty());
    const std::string hdr = TempPath("got.hdr"), tif = TempPath("got.tif");
    ASSERT_EQ(client_.GetFax(kServer, std::stoi(test::ListField(lines[0], 1)), hdr, tif).status, 0u);
    for (auto& p : {path, hdr, tif}) std::filesystem::remove(p);
  }

  std::string dataPath_;
};

// The inbox over a sequence of polls: each step's list, then what the poll shows.
TEST_F(NotifierHubTest, InboxPollsAlertOnChangedNonEmptyLists) {
  StartHub();
  auto n = Make();
  const std::string me = test::OwnLogin();

  TickResult r = Poll(*n);  // the first tick polls; nothing there
  EXPECT_TRUE(r.polled);
  EXPECT_FALSE(r.alert);
  EXPECT_FALSE(r.beep);
  EXPECT_EQ(n->rights() & 10u, 10u);

  Send(test::Lan(me));
  WaitListed(5026, 1);
  r = Poll(*n);
  EXPECT_TRUE(r.alert);
  EXPECT_TRUE(r.beep);
  EXPECT_TRUE(r.openMessage);
  EXPECT_EQ(r.trayIcon, kIconAlert);
  EXPECT_EQ(n->line1(), "Message from . server:");
  EXPECT_EQ(n->line2(), "You have received 1 new fax.");
  EXPECT_EQ(n->Tip(), "You have received 1 new fax.");
  // Ticks between polls keep flashing and updating the open window.
  r = n->Tick();
  EXPECT_FALSE(r.polled);
  EXPECT_TRUE(r.alert);
  EXPECT_TRUE(r.updateMessage);
  EXPECT_EQ(r.trayIcon, kIconNormal);
  n->MessageClosed();
  EXPECT_EQ(n->line1(), "Server .:");

  r = Poll(*n);  // the same list: no alert
  EXPECT_FALSE(r.alert);
  EXPECT_FALSE(n->newMessage());

  Send(test::Lan(me));
  WaitListed(5026, 2);
  r = Poll(*n);
  EXPECT_TRUE(r.alert);
  EXPECT_EQ(n->line2(), "You have received 2 new faxes.");
  n->MessageClosed();

  FetchFirst(5026);  // shrunk, not empty: alert
  WaitListed(5026, 1);
  r = Poll(*n);
  EXPECT_TRUE(r.alert);
  EXPECT_EQ(n->line2(), "You have received 1 new fax.");
  n->MessageClosed();

  FetchFirst(5026);  // empty: no alert
  WaitListed(5026, 0);
  r = Poll(*n);
  EXPECT_FALSE(r.alert);
  EXPECT_FALSE(NtfFileLeft());
}

// A fax to a number no modem can dial (longer than 31 characters) is
// returned at once; with sound off the icons still flash without a tone.
TEST_F(NotifierHubTest, ReturnedFaxAlertsAndSoundOffGivesNoTone) {
  StartHub();
  auto n = Make(false);
  Send(test::Fax(std::string(40, '5')));
  WaitListed(5030, 1);
  TickResult r = Poll(*n);
  EXPECT_TRUE(r.alert);
  EXPECT_FALSE(r.beep);
  EXPECT_EQ(n->line1(), "Message from . server:");
  EXPECT_EQ(n->line2(), "Server has 1 returning fax for you.");
  std::vector<int> icons = {r.trayIcon};
  for (int i = 0; i < 3; ++i) icons.push_back(n->Tick().trayIcon);
  EXPECT_EQ(icons, (std::vector<int>{kIconAlert, kIconNormal, kIconAlert, kIconNormal}));
}

// A fax received on the line is the dispatchers' to file.
TEST_F(NotifierHubTest, ReceivedFaxAlertsTheDispatchers) {
  StartHub();
  auto n = Make();
  Send(test::Fax("200"));
  ASSERT_TRUE(exchange_->waitForCalls(1, std::chrono::seconds(120)));
  WaitListed(5010, 1);
  TickResult r = Poll(*n);
  EXPECT_TRUE(r.alert);
  EXPECT_EQ(n->line1(), "Message from . server to dispatchers:");
  EXPECT_EQ(n->line2(), "Server received 1 new fax.");
}

// A registered user with rights 1 and 4 only, a fax waiting in its inbox.
TEST_F(NotifierHubTest, WithoutRightsTwoAndEightNeverAlerted) {
  StartHub();
  std::string text;
  EncodeFields(&text, {"bellnorights", "", "5", "", "", "", "", ""}, 8);
  ASSERT_EQ(client_.ChangeUser(kServer, 7510, RegisteredUserEntry(text)).status, 0u);
  Send(test::Lan("bellnorights"));
  auto n = Make();
  ASSERT_EQ(n->client().ActForUser(kServer, "bellnorights"), 1);
  for (int poll = 0; poll < 3; ++poll) {
    TickResult r = Poll(*n);
    EXPECT_TRUE(r.polled);
    EXPECT_FALSE(r.alert);
  }
  EXPECT_EQ(n->rights(), 5u);
}

TEST_F(NotifierHubTest, UnreachableServerIsSilent) {
  auto n = Make();  // no hub started
  for (int poll = 0; poll < 2; ++poll) {
    TickResult r = Poll(*n);
    EXPECT_TRUE(r.polled);
    EXPECT_FALSE(r.alert);
    EXPECT_FALSE(r.beep);
  }
  EXPECT_EQ(n->line2(), "No messages.");
}

}  // namespace
}  // namespace korvo::notifier
