#include "server/journal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "common/status_codes.h"
#include "platform/eventlog.h"
#include "platform/sync.h"
#include "server/faxserver.h"
#include "server/syslog.h"
#include "tests/support/sandbox.h"

namespace korvo {
namespace {

JournalJobInfo Job(uint32_t id, std::string to, bool lan, uint32_t direction = 1) {
  JournalJobInfo job;
  job.imageId = 100 + id;
  job.jobId = id;
  job.recipient = FaxSenderOrRecipient(std::move(to), lan, "To " + std::to_string(id), "", "", "");
  job.submitTime = 1000 + id;
  job.dueTime = 2000 + id;
  job.seconds = 30;
  job.pages = 2;
  job.state = 500;
  job.attempts = 1;
  job.priority = 100;
  job.direction = direction;
  return job;
}

JournalImageInfo Image(std::string from, bool lan) {
  JournalImageInfo image;
  image.sender = FaxSenderOrRecipient(std::move(from), lan, "", "", "", "");  // shown by its address
  image.subject = "Offer";
  image.pageCount = 3;
  return image;
}

class JournalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int ok = 0;
    sysLog_ = std::make_unique<SysLog>("unused", 0x80000, &ok);
    ASSERT_EQ(ok, 1);
    g_SysLog = sysLog_.get();
    path_ = sandbox_.path("Journal.dbs").string();
    journal_ = std::make_unique<Journal>(path_.c_str(), &ok);
    ASSERT_EQ(ok, 1);
  }
  void TearDown() override { g_SysLog = nullptr; }

  std::vector<std::string> List(uint32_t code, const char* user) {
    const auto file = sandbox_.path("list.lst");
    EXPECT_EQ(journal_->WriteList(code, user, file.c_str()), kStatusSuccess);
    std::vector<std::string> lines;
    std::string all = test::Sandbox::readFile(file);
    for (size_t at = 0, end; (end = all.find("\r\n", at)) != std::string::npos; at = end + 2)
      lines.push_back(all.substr(at, end - at));
    return lines;
  }
  std::vector<std::string> LogTexts() {
    std::vector<std::string> out;
    platform::EventLog log;
    log.Open("Korvo");
    log.ReadNewestFirst([&](const platform::EventRecord& r) {
      out.insert(out.begin(), r.strings.at(0));
      return true;
    });
    return out;
  }

  test::Sandbox sandbox_;
  std::unique_ptr<SysLog> sysLog_;
  std::string path_;
  std::unique_ptr<Journal> journal_;
};

TEST_F(JournalTest, RecordIsStoredByteForByte) {
  JournalRecord r = Journal::BuildRecord(Job(7, "0123456", false), Image("ana", true));
  ASSERT_EQ(journal_->Add(r), kStatusSuccess);
  const std::string file = test::Sandbox::readFile(path_);
  ASSERT_EQ(file.size(), 32u + 585u);
  auto u32 = [&](size_t off) {
    uint32_t v;
    std::memcpy(&v, file.data() + 33 + off, 4);
    return v;
  };
  EXPECT_EQ(file[32], 0) << "status byte";
  EXPECT_EQ(u32(0), 107u);
  EXPECT_EQ(u32(4), 7u);
  EXPECT_EQ(std::string(file.data() + 33 + 8), "ana");
  EXPECT_EQ(u32(40), 1u);
  EXPECT_EQ(std::string(file.data() + 33 + 44), "ana");
  EXPECT_EQ(std::string(file.data() + 33 + 108), "0123456");
  EXPECT_EQ(u32(140), 0u);
  EXPECT_EQ(std::string(file.data() + 33 + 144), "To 7");
  EXPECT_EQ(std::string(file.data() + 33 + 208), "Offer");
  EXPECT_EQ(u32(288), 1007u);
  EXPECT_EQ(u32(292), 2007u);
  EXPECT_EQ(u32(296), 30u);
  EXPECT_EQ(u32(300), 3u | (2u << 16)) << "page count, then pages";
  EXPECT_EQ(u32(304), 500u);
  EXPECT_EQ(u32(308), 1u);
  EXPECT_EQ(static_cast<unsigned char>(file[33 + 312]), 100);
  EXPECT_EQ(u32(316), 1u);
  EXPECT_EQ(u32(320), 0u);
  EXPECT_EQ(file.substr(33 + 324), std::string(260, '\0'));
}

TEST_F(JournalTest, ListsEveryRecordOrTheUsersOwn) {
  ASSERT_EQ(journal_->Add(Journal::BuildRecord(Job(3, "Bob", true), Image("ana", true))), kStatusSuccess);
  ASSERT_EQ(journal_->Add(Journal::BuildRecord(Job(1, "0123456", false), Image("Ana", true))), kStatusSuccess);
  ASSERT_EQ(journal_->Add(Journal::BuildRecord(Job(2, "ana", true, 0), Image("5550100", false))), kStatusSuccess);
  ASSERT_EQ(journal_->Add(Journal::BuildRecord(Job(4, "carl", true), Image("bob", true))), kStatusSuccess);
  EXPECT_EQ(journal_->Add(Journal::BuildRecord(Job(4, "dup", true), Image("dup", true))), kStatusDatabaseError);

  const auto all = List(Journal::kListAll, "whoever");
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[0], "101\x1B" "1\x1B" "Ana\x1BTo 1\x1BOffer\x1B" "1001\x1B" "2001\x1B" "30\x1B" "3\x1B" "2\x1B" "500\x1B"
                    "1\x1B" "100\x1B" "0\x1BTx (Modem)\x1B");
  EXPECT_NE(all[1].find("\x1BRx (Modem)\x1B"), std::string::npos) << "incoming by modem";
  EXPECT_NE(all[2].find("\x1BTx/Rx (LAN)\x1B"), std::string::npos) << "both parties on the LAN";

  struct Case {
    const char* user;
    std::vector<const char*> jobs;
  };
  for (const Case& c : {Case{"ANA", {"1", "2", "3"}}, Case{"bob", {"3", "4"}}, Case{"carl", {"4"}}, Case{"nobody", {}},
                        Case{"", {}}}) {
    SCOPED_TRACE(c.user);
    const auto mine = List(Journal::kListUser, c.user);
    ASSERT_EQ(mine.size(), c.jobs.size());
    for (size_t i = 0; i < mine.size(); ++i) EXPECT_EQ(mine[i].substr(mine[i].find('\x1B') + 1, 2), std::string(c.jobs[i]) + "\x1B");
  }
  EXPECT_EQ(journal_->WriteList(Journal::kListAll, "x", sandbox_.path("no/such/dir/list").c_str()), kStatusInternalError);
}

// A journal that cannot be read must not pass for an empty one.
TEST_F(JournalTest, AnUnreadableJournalFailsItsList) {
  ASSERT_EQ(journal_->Add(Journal::BuildRecord(Job(1, "bob", true), Image("ana", true))), kStatusSuccess);
  const std::string good = test::Sandbox::readFile(path_);
  const auto list = sandbox_.path("list.lst");
  for (const std::string& damaged : {std::string("not a journal"), good.substr(0, good.size() - 100), std::string()}) {
    SCOPED_TRACE(damaged.size());
    if (damaged.empty()) std::filesystem::remove(path_);
    else test::Sandbox::writeFile(path_, damaged);
    EXPECT_EQ(journal_->WriteList(Journal::kListAll, "", list.c_str()), kStatusInternalError);
    EXPECT_EQ(journal_->WriteList(Journal::kListUser, "bob", list.c_str()), kStatusInternalError);
  }
}

TEST_F(JournalTest, ClearDeletesEverythingAndLogsIt) {
  ASSERT_EQ(journal_->Clear(), kStatusSuccess);
  for (uint32_t id : {5u, 9u, 2u}) ASSERT_EQ(journal_->Add(Journal::BuildRecord(Job(id, "x", false), Image("y", false))), kStatusSuccess);
  ASSERT_EQ(journal_->Clear(), kStatusSuccess);
  EXPECT_TRUE(List(Journal::kListAll, "").empty());
  EXPECT_EQ(test::Sandbox::readFile(path_).size(), 32u);
  const std::string cleared = "Cleared '" + path_ + "'";
  EXPECT_EQ(LogTexts(), (std::vector<std::string>{cleared, cleared}));

  std::filesystem::remove(path_);
  std::filesystem::create_directories(path_);  // the database is gone and cannot come back
  EXPECT_EQ(journal_->Clear(), kStatusInternalError);
  EXPECT_EQ(LogTexts().back(), "Could not clear '" + path_ + "'");
}

TEST_F(JournalTest, TextsCannotSplitTheirListLine) {
  JournalImageInfo image = Image("ana", true);
  image.subject = "a\x1B" "b\r\nc";
  ASSERT_EQ(journal_->Add(Journal::BuildRecord(Job(1, "bob", true), image)), kStatusSuccess);
  const auto lines = List(Journal::kListAll, "");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("\x1B" "a b  c\x1B"), std::string::npos);
  EXPECT_EQ(std::count(lines[0].begin(), lines[0].end(), '\x1B'), 15);
}

TEST_F(JournalTest, TextsTooLongForTheirFieldsAreCut) {
  JournalJobInfo job = Job(1, std::string(40, 'r'), false);
  job.recipient.name = std::string(62, 'n') + "\xC4\x8D";  // the two-byte letter does not fit
  JournalImageInfo image = Image(std::string(31, 's'), false);
  image.sender.name = std::string(100, 'm');
  image.subject = std::string(200, 'j');
  const JournalRecord r = Journal::BuildRecord(job, image);
  EXPECT_EQ(std::string(r.recipientAddress), std::string(31, 'r'));
  EXPECT_EQ(std::string(r.recipientName), std::string(62, 'n'));
  EXPECT_EQ(std::string(r.senderAddress), std::string(31, 's'));
  EXPECT_EQ(std::string(r.senderName), std::string(63, 'm'));
  EXPECT_EQ(std::string(r.subject), std::string(79, 'j'));
  ASSERT_EQ(journal_->Add(r), kStatusSuccess);
  EXPECT_NE(List(Journal::kListAll, "").at(0).find(std::string(79, 'j') + "\x1B"), std::string::npos);
}

TEST(JournalOpenTest, APathThatCannotHoldADatabaseFails) {
  test::Sandbox sandbox;
  int ok = 1;
  Journal journal(sandbox.path("missing/dir/Journal.dbs").c_str(), &ok);
  EXPECT_EQ(ok, 0);
  Journal none(nullptr, &ok);
  EXPECT_EQ(ok, 0);
}

}  // namespace
}  // namespace korvo
