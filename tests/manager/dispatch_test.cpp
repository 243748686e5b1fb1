// Dispatching and forwarding as the logins the office has: a fax crosses the
// simulated line and waits with the dispatchers; a dispatcher without the
// administration right dispatches it to an ordinary user, who forwards it to
// another. Each step runs the manager's list model on a thread of that
// login's own credentials against the built korvohub, and the last
// recipient's In Box row still says where the fax came from.
#include <pwd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/fax_header.h"
#include "common/settings.h"
#include "common/userenvironment.h"
#include "manager/list_classes.h"
#include "manager/list_model.h"
#include "manager/server_fax_list.h"
#include "manager/user_fax_list.h"
#include "platform/process.h"
#include "tests/manager/fake_ui.h"
#include "tests/server/line_hub_fixture.h"
#include "tests/server/queue_fixture.h"

namespace korvo::test {
namespace {

namespace fs = std::filesystem;
using manager::ListModel;
using manager::UserFaxList;

constexpr const char* kStation = "+385 1 555 0100";

// System logins every Debian system has, registered with their part's rights.
struct Login {
  const char* name;
  uint32_t rights;
};
constexpr Login kDispatcher{"sys", kRightRegistered | kRightDispatch};
constexpr Login kUser{"daemon", kRightRegistered};
constexpr Login kOtherUser{"bin", kRightRegistered};

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class DispatchTest : public LineHubFixture {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as other logins";
    LineHubFixture::SetUp();
    ASSERT_EQ(KvWriteRegStr("Server", "StationIdentifier", kStation), 1);
    ASSERT_EQ(KvWriteRegStr(nullptr, "DefaultServer", platform::ComputerName().c_str()), 1);
    ASSERT_EQ(KvWriteRegStr(nullptr, "KorvoCore", (BuildDir() / "core" / "libkorvocore.so").c_str()), 1);
    // Every login reaches the socket and reads the hives; each gets a data
    // folder of its own.
    fs::permissions(sandbox_.root(), fs::perms(0755));
    for (const fs::path& hive : {sandbox_.userHive(), sandbox_.machineHive()})
      fs::permissions(hive, fs::perms(0644));
    for (const Login& login : {kDispatcher, kUser, kOtherUser}) {
      const passwd* pw = getpwnam(login.name);
      if (!pw) GTEST_SKIP() << "no login " << login.name;
      RegisterUser(login.name, login.rights);
      const fs::path folder = sandbox_.path(std::string("data-") + login.name);
      fs::create_directories(folder);
      ASSERT_EQ(chown(folder.c_str(), pw->pw_uid, pw->pw_gid), 0);
    }
  }
  void RegisterUser(const std::string& name, uint32_t rights) {
    bool ok = false;
    UserDatabase users((root_ / "Config" / "RegUsers.dbs").string(), &ok);
    ASSERT_TRUE(ok);
    std::string text;
    EncodeFields(&text, {name, "", std::to_string(rights), "", "", "", "", ""}, 8);
    ASSERT_TRUE(users.AddUser(text));
  }
  std::vector<std::string> ServerSubjects(uint32_t code) {
    const std::string file = TempPath("list.txt");
    std::vector<std::string> subjects;
    if (client_.DownloadList(".", code, nullptr, file).status == 0)
      for (const std::string& line : ListLines(ReadAll(file))) subjects.push_back(manager::QueueListEntry(line).subject);
    fs::remove(file);
    return subjects;
  }
  // The body on a thread whose effective user is the login (its connections
  // carry that login's credentials), with the login's data folder.
  void As(const Login& login, const std::function<void()>& body) {
    ASSERT_EQ(KvWriteRegUserStr(nullptr, "DataPath", sandbox_.path(std::string("data-") + login.name).c_str()), 1);
    std::thread t([&] {
      ASSERT_EQ(syscall(SYS_setresuid, -1, getpwnam(login.name)->pw_uid, -1), 0);
      GetUserEnvironment().Load();
      body();
    });
    t.join();
  }
  // The box of the login's list model, refreshed, with the new faxes fetched.
  static void Open(ListModel& model, const char* className) {
    model.Open(*manager::FindListClass(className), {className, true, "Personal Folders"});
  }
};

TEST_F(DispatchTest, ADispatcherAndAnOrdinaryUserPassOnAFaxThatCameOverTheLine) {
  StartHub();
  const std::string image = TempPath("hello.tif");
  WriteFaxFile(image, 2);
  ASSERT_TRUE(platform::RunProcess({(BuildDir() / "tools" / "faxdemo").string(), "send", "200", image, "Hello"}));
  // Over the line and back in: the received fax waits for the dispatchers.
  // Over the line and back in: the received fax waits for the dispatchers
  // (asked of the server, which files it after its image).
  const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (ServerSubjects(5010).empty() && std::chrono::steady_clock::now() < bound)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_EQ(ServerSubjects(5010).size(), 1u) << hub_->output();

  As(kDispatcher, [&] {
    FakeUi ui;
    ui.chosenUser = kUser.name;
    ListModel model(ui);
    Open(model, "UserDispatchBox");
    ASSERT_EQ(model.RowCount(), 1);
    model.SetRowState(0, manager::kRowSelected | manager::kRowFocused);
    ASSERT_TRUE(model.OnCommand(UserFaxList::kCmdDispatch));
    EXPECT_EQ(model.RowCount(), 0);
    // Only the fetch's news: no refusal.
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "1 new fax(es) received from " + platform::ComputerName());
    model.Close();
  });

  As(kUser, [&] {
    FakeUi ui;
    ui.chosenUser = kOtherUser.name;
    ListModel model(ui);
    Open(model, "UserInBox");
    ASSERT_EQ(model.RowCount(), 1);
    EXPECT_EQ(model.CellText(0, 0), kStation);
    model.SetRowState(0, manager::kRowSelected | manager::kRowFocused);
    ui.boxes.clear();
    ASSERT_TRUE(model.OnCommand(UserFaxList::kCmdForward));
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "1 item(s) successfully processed");
    model.Close();
  });

  As(kOtherUser, [&] {
    FakeUi ui;
    ListModel model(ui);
    Open(model, "UserInBox");
    ASSERT_EQ(model.RowCount(), 1);
    // Sent by the forwarding user, and still from the calling station.
    const FaxSenderOrRecipient& from = static_cast<UserFaxList*>(model.current())->Item(0).header.sender;
    EXPECT_EQ(from, FaxSenderOrRecipient(kUser.name, 1, kStation, "", "", kStation));
    EXPECT_EQ(model.CellText(0, 0), kStation);
    EXPECT_EQ(model.CellText(0, 1), std::string("Fax from ") + kStation);
    model.Close();
  });
}

// What the forwarded header keeps of each kind of sender.
TEST(ForwardHeader, KeepsWhoSentTheFaxBesideTheForwardingUser) {
  struct Case {
    FaxSenderOrRecipient original;
    FaxSenderOrRecipient forwarded;
  };
  const Case cases[] = {
      {FaxSenderOrRecipient(kStation, 0, "", "", "", ""), FaxSenderOrRecipient("daemon", 1, kStation, "", "", kStation)},
      {FaxSenderOrRecipient("ana", 1, "Ana Horvat", "Dalmacija d.o.o.", "021 555", "021 556"),
       FaxSenderOrRecipient("daemon", 1, "Ana Horvat", "Dalmacija d.o.o.", "021 555", "021 556")},
      {FaxSenderOrRecipient("ana", 1, "", "", "", ""), FaxSenderOrRecipient("daemon", 1, "ana", "", "", "")},
  };
  for (const Case& c : cases) {
    FaxHeader received;
    received.sender = c.original;
    received.subject = "Offer";
    received.recipients.AddTail(Lan("~nobody"));
    const FaxHeader header = manager::ForwardHeader(received, "daemon", "bin");
    EXPECT_EQ(header.sender, c.forwarded) << c.original.address;
    ASSERT_EQ(header.recipients.GetCount(), 1);
    EXPECT_EQ(header.recipients[0], Lan("bin"));
    EXPECT_EQ(header.subject, "Offer");
  }
}

}  // namespace
}  // namespace korvo::test
