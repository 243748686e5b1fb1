// Submissions of ordinary logins over their own connections to a real
// korvohub, as one login would use them against another: many LAN recipients
// that are all one user, a sender's name typed to look like someone else, and
// a login that fills the queue.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "common/entries.h"
#include "common/fax_header.h"
#include "common/status_codes.h"
#include "tests/server/hub_fixture.h"
#include "tests/server/queue_fixture.h"

namespace korvo {
namespace {

namespace fs = std::filesystem;
using test::Fax;
using test::Lan;

constexpr const char* kServer = ".";

// The sender and the recipient: system accounts every Debian system has,
// registered with their own boxes only.
class SubmissionsTest : public test::HubFixture {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to connect as other logins";
    for (const char* login : {"daemon", "bin"}) {
      const passwd* pw = getpwnam(login);
      if (!pw) GTEST_SKIP() << "no login " << login;
      uids_[login] = pw->pw_uid;
    }
    HubFixture::SetUp();
    fs::permissions(sandbox_.root(), fs::perms(0755));
    for (const auto& [login, uid] : uids_) {
      fs::create_directories(Folder(login));
      ASSERT_EQ(chown(Folder(login).c_str(), uid, 0), 0);
    }
  }

  // The hub with both logins registered; machine values first.
  void Start() {
    StartHub();
    for (const auto& [login, uid] : uids_) {
      RegisteredUserEntry user;
      user.userName = login;
      user.rights = kRightRegistered;
      ASSERT_EQ(client_.ChangeUser(kServer, FaxClient::kAddUser, user).status, 0u) << login;
    }
  }

  fs::path Folder(const std::string& login) { return sandbox_.path("as-" + login); }

  void As(const std::string& login, const std::function<void()>& body) {
    std::thread t([&] {
      ASSERT_EQ(syscall(SYS_setresuid, -1, uids_[login], -1), 0);
      body();
    });
    t.join();
  }

  // The login submits a fax of the pages from the sender to the recipients;
  // the result.
  RequestResult SubmitFax(const std::string& login, const FaxSenderOrRecipient& sender,
                          const std::vector<FaxSenderOrRecipient>& to, int pages = 1) {
    FaxHeader header;
    header.sender = sender;
    for (const auto& r : to) header.recipients.AddTail(r);
    header.subject = "Invoice";
    header.sendTime = ScheduleTimeInfo(0, static_cast<int32_t>(std::time(nullptr)));
    const fs::path image = Folder(login) / "fax.tif";
    const fs::path headerFile = Folder(login) / "fax.kvf";
    test::WriteFaxFile(image, pages);
    EXPECT_EQ(header.SaveToFile(headerFile.string()), 1);
    for (const auto& f : {image, headerFile}) EXPECT_EQ(chown(f.c_str(), uids_[login], 0), 0);
    RequestResult result;
    As(login, [&] {
      FaxClient client;
      result = client.SendFaxFiles(kServer, headerFile.string(), image.string());
    });
    return result;
  }
  Status Submit(const std::string& login, const FaxSenderOrRecipient& sender,
                const std::vector<FaxSenderOrRecipient>& to, int pages = 1) {
    return SubmitFax(login, sender, to, pages).status;
  }
  // A fax from the login itself.
  RequestResult From(const std::string& login, const std::vector<FaxSenderOrRecipient>& to, int pages = 1) {
    return SubmitFax(login, Lan(login), to, pages);
  }

  // The login fetches the fax of the list line into its folder; the header.
  FaxHeader Fetch(const std::string& login, const std::string& line) {
    const std::string header = (Folder(login) / "got.kvf").string();
    const std::string image = (Folder(login) / "got.tif").string();
    As(login, [&] {
      FaxClient client;
      ASSERT_EQ(client.GetFax(kServer, std::stoi(test::ListField(line, 1)), header, image).status, 0u);
    });
    FaxHeader got;
    EXPECT_TRUE(got.LoadFromFile(header));
    // The fetch completes the job after the client's last answer.
    for (int i = 0; i < 6000 && !List(login, 5026).empty(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(List(login, 5026).empty());
    return got;
  }

  // The lines of the login's list of that code.
  std::vector<std::string> List(const std::string& login, uint32_t code) {
    const std::string path = (Folder(login) / "list.txt").string();
    std::vector<std::string> lines;
    As(login, [&] {
      FaxClient client;
      EXPECT_EQ(client.DownloadList(kServer, code, nullptr, path).status, 0u);
      for (const auto& l : test::ListLines(test::Sandbox::readFile(path)))
        if (!l.empty()) lines.push_back(l);
    });
    return lines;
  }

  std::map<std::string, uid_t> uids_;
};

// One submission naming the same user 250 times, in any letter case, puts
// one fax into that user's In Box; other recipients keep their place.
TEST_F(SubmissionsTest, ARecipientNamedTwiceIsDeliveredOnce) {
  Start();
  std::vector<FaxSenderOrRecipient> to;
  for (int i = 0; i < 250; ++i) to.push_back(Lan(i % 2 ? "bin" : "BIN"));
  to.push_back(Fax("5550100"));
  to.push_back(Fax("5550100"));
  to.push_back(Fax("5550101"));
  ASSERT_EQ(Submit("daemon", FaxSenderOrRecipient("daemon", 1, "", "", "", ""), to), 0u);
  EXPECT_EQ(List("bin", 5026).size(), 1u);
  const auto outgoing = List("daemon", 6020);
  ASSERT_EQ(outgoing.size(), 2u);
  EXPECT_EQ(test::ListField(outgoing[0], 3), "5550100");
  EXPECT_EQ(test::ListField(outgoing[1], 3), "5550101");
}

// A LAN-delivered fax shows its recipient the login that sent it beside the
// name the sender typed in the list; the fetched header keeps that login as
// its sender's address. A client that calls its sender no LAN user changes
// nothing.
TEST_F(SubmissionsTest, TheRecipientSeesTheSendingLoginBesideTheTypedName) {
  struct Case {
    const char* what;
    FaxSenderOrRecipient sender;
    std::string shown;
  } cases[] = {
      {"a name of someone else", FaxSenderOrRecipient("daemon", 1, "IT Helpdesk", "", "", ""), "IT Helpdesk (daemon)"},
      {"marked as no LAN user", FaxSenderOrRecipient("daemon", 0, "IT Helpdesk", "", "", ""), "IT Helpdesk (daemon)"},
      {"no name", FaxSenderOrRecipient("daemon", 1, "", "", "", ""), "daemon"},
      {"the login itself", FaxSenderOrRecipient("daemon", 1, "Daemon", "", "", ""), "Daemon"},
  };
  Start();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(Submit("daemon", c.sender, {Lan("bin")}), 0u);
    const auto lines = List("bin", 5026);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(test::ListField(lines[0], 2), c.shown);
    EXPECT_EQ(test::ListField(lines[0], 14), "Tx/Rx (LAN)");
    const FaxHeader got = Fetch("bin", lines[0]);
    EXPECT_EQ(got.sender.name, c.sender.name);
    EXPECT_EQ(got.sender.address, "daemon");
    EXPECT_EQ(got.sender.lan, 1);
  }
}

// The text of a refused submission says why, after the status's own.
std::string Why(const RequestResult& r) {
  const std::string head = GetStatusText(kStatusServerErrorIndicationText) + "\n" +
                           "Server has no free space left to put the fax into the queue: ";
  return r.text.rfind(head, 0) == 0 ? r.text.substr(head.size()) : "(" + r.text + ")";
}

// One login may hold only its share of the queue's jobs, its LAN deliveries
// counted until their recipients fetch them; past it the submission is
// refused with a text that says why, and other logins go on sending.
TEST_F(SubmissionsTest, ASendersJobsAreLimited) {
  ASSERT_EQ(KvWriteRegDword("Server", "MaxQueueJobsPerSender", 4), 1);
  Start();
  EXPECT_EQ(From("daemon", {Fax("5550100"), Lan("bin")}).status, 0u);
  EXPECT_EQ(From("daemon", {Fax("5550101"), Fax("5550102")}).status, 0u);
  const RequestResult refused = From("daemon", {Fax("5550103")});
  EXPECT_EQ(refused.status, kStatusNoQueueSpace);
  EXPECT_EQ(Why(refused), "'daemon' would have 5 jobs on the server, more than the 4 one sender may have.");
  EXPECT_EQ(List("daemon", 6020).size(), 3u);
  EXPECT_TRUE(test::ServerLogged("[daemon] Fax refused: " + Why(refused)));
  EXPECT_EQ(From("bin", {Fax("5550104")}).status, 0u) << "another login's share";
  // The LAN delivery is fetched: its job leaves the sender's share.
  const auto inBox = List("bin", 5026);
  ASSERT_EQ(inBox.size(), 1u);
  Fetch("bin", inBox[0]);
  EXPECT_EQ(From("daemon", {Fax("5550103")}).status, 0u);
}

// The same for the bytes of the sender's images, and the free space kept
// back for received faxes, which no submission takes.
TEST_F(SubmissionsTest, ASendersBytesAndTheSpaceForReceivedFaxesAreLimited) {
  // One image of 200 pages, measured.
  const fs::path sample = sandbox_.path("sample.tif");
  test::WriteFaxFile(sample, 200);
  const uint64_t size = fs::file_size(sample);
  // Room for two such images, not three.
  const auto kb = static_cast<uint32_t>((size * 5 / 2) / 1024);
  ASSERT_EQ(KvWriteRegDword("Server", "MaxQueueKBPerSender", kb), 1);
  Start();
  EXPECT_EQ(From("daemon", {Lan("bin")}, 200).status, 0u);
  EXPECT_EQ(From("daemon", {Fax("5550100"), Fax("5550101")}, 200).status, 0u);
  const RequestResult refused = From("daemon", {Fax("5550102")}, 200);
  EXPECT_EQ(refused.status, kStatusNoQueueSpace);
  EXPECT_EQ(Why(refused), "the faxes of 'daemon' would take " + std::to_string((3 * size + 1023) / 1024) +
                              " KB on the server, more than the " + std::to_string(kb) + " KB one sender may have.");
  EXPECT_EQ(From("bin", {Fax("5550103")}, 200).status, 0u) << "another login's share";
  hub_.reset();

  // No disk has 4 TB free beyond its faxes.
  ASSERT_EQ(KvWriteRegDword("Server", "ReceiveReserveKB", 0xFFFFFFFFu), 1);
  StartHub();
  const RequestResult reserved = From("bin", {Fax("5550104")});
  EXPECT_EQ(reserved.status, kStatusNoQueueSpace);
  EXPECT_EQ(Why(reserved),
            "the last 4294967295 KB of the server's free disk space are kept for received faxes.");
}

}  // namespace
}  // namespace korvo
