// The stored queue under a failing disk: what a submitter is told matches
// what the files hold, and a change whose write failed is written later.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <set>
#include <string>

#include "common/status_codes.h"
#include "platform/durable_file.h"
#include "server/queue.h"
#include "server/queue_internal.h"
#include "tests/server/queue_fixture.h"

namespace korvo {
namespace {

namespace fs = std::filesystem;
using queue_detail::CommitLedger;
using test::Fax;

// A write of tickets 1-5 fails, the write after it (ticket 6) succeeds: each
// waiter is told the outcome of the write that held its ticket, however late
// it asks.
TEST(CommitLedgerTest, EachTicketLearnsTheOutcomeOfItsOwnWrite) {
  CommitLedger ledger;
  EXPECT_EQ(ledger.Take(1), CommitLedger::Outcome::kPending);
  ledger.End(2, true);
  ledger.End(5, false);
  ledger.End(6, true);
  EXPECT_EQ(ledger.EndedThrough(), 6u);
  EXPECT_EQ(ledger.Take(1), CommitLedger::Outcome::kSaved);
  EXPECT_EQ(ledger.Take(4), CommitLedger::Outcome::kFailed);
  EXPECT_EQ(ledger.Take(6), CommitLedger::Outcome::kSaved);
  EXPECT_EQ(ledger.Take(3), CommitLedger::Outcome::kFailed);
  EXPECT_EQ(ledger.Take(7), CommitLedger::Outcome::kPending);
}

// The disk fails one chosen step of the writes to a file whose name ends so.
struct DiskFault {
  platform::DiskStep step;
  std::string pathEnd;
  bool armed = false;
  int hits = 0;
};
DiskFault gFault;

int FailChosenStep(platform::DiskStep step, const std::string& path) {
  const auto& end = gFault.pathEnd;
  if (!gFault.armed || step != gFault.step || path.size() < end.size() ||
      path.compare(path.size() - end.size(), end.size(), end) != 0)
    return 0;
  ++gFault.hits;
  return ENOSPC;
}

class QueueStoreTest : public test::QueueFixture {
 protected:
  void SetUp() override {
    QueueFixture::SetUp();
    platform::SetDiskFaultHook(FailChosenStep);
  }
  void TearDown() override {
    gFault.armed = false;
    QueueFixture::TearDown();
    platform::SetDiskFaultHook(nullptr);
  }
  // A one-page fax to the number, submitted from the Temp folder; its job
  // id, or 0 when refused.
  uint32_t Try(const std::string& number) {
    fs::create_directories(root_ / "Temp");
    const std::string path = (root_ / "Temp" / ("FAX" + number + ".TMP")).string();
    test::WriteFaxFile(path, 1);
    return Q().InsertFax(path.c_str(), Header({Fax(number)}, static_cast<int32_t>(test::gClockNow)),
                         Queue::kKindSubmitted, 0, JobState::Queued) == 1
               ? Q().JobCounter()
               : 0;
  }
  std::set<std::string> Numbers() {
    std::set<std::string> out;
    for (const auto& job : Q().Jobs()) out.insert(job.recipient.address);
    return out;
  }
  // A kill -9 now: the next start finds the files as they are.
  void CrashAndRestart() {
    const std::string log = Queue::LogPath(ListPath());
    std::optional<std::string> list, records;
    if (fs::exists(ListPath())) list = test::Sandbox::readFile(ListPath());
    if (fs::exists(log)) records = test::Sandbox::readFile(log);
    queue_.reset();
    fs::remove(ListPath());
    fs::remove(log);
    if (list) test::Sandbox::writeFile(ListPath(), *list);
    if (records) test::Sandbox::writeFile(log, *records);
    Q();
  }
};

// Each point at which the disk can fail a submission's append to the change
// log, or a full save of the list: the submission whose write failed is
// refused and none of it comes back; a deletion whose full save failed is
// saved by the next write, which is then a full save; whatever was
// acknowledged is found after a crash.
TEST_F(QueueStoreTest, AFailedWriteIsNeverAcknowledged) {
  using platform::DiskStep;
  const struct {
    const char* what;
    DiskStep step;
    const char* pathEnd;
    bool fullSave;  // else an append
  } cases[] = {
      {"log created", DiskStep::kCreate, "Queue.log", false},
      {"log written", DiskStep::kWrite, "Queue.log", false},
      {"log flushed", DiskStep::kFlush, "Queue.log", false},
      {"log's folder flushed", DiskStep::kFolderFlush, "Queue", false},
      {"image's folder flushed", DiskStep::kFolderFlush, "Temp", false},
      {"list created", DiskStep::kCreate, "Queue.lst.new", true},
      {"list written", DiskStep::kWrite, "Queue.lst.new", true},
      {"list flushed", DiskStep::kFlush, "Queue.lst.new", true},
      {"list renamed", DiskStep::kRename, "Queue.lst", true},
      {"list's folder flushed", DiskStep::kFolderFlush, "Queue", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    queue_.reset();
    fs::remove_all(root_ / "Queue");
    fs::create_directories(root_ / "Queue");
    gFault = DiskFault{c.step, c.pathEnd};
    std::set<std::string> acknowledged;
    ASSERT_NE(Try("5550"), 0u);
    acknowledged.insert("5550");
    if (c.fullSave) {
      // A deletion asks for a full save, which fails.
      const uint32_t doomed = Try("5551");
      ASSERT_NE(doomed, 0u);
      gFault.armed = true;
      // The job is gone and journaled: the answer says so.
      EXPECT_EQ(Q().DeleteJob(std::to_string(doomed).c_str()), kStatusSuccess);
      EXPECT_EQ(gFault.hits, 1);
      EXPECT_EQ(Numbers(), acknowledged);
    } else {
      // A new log is made after a full save took the last one in.
      if (c.step == DiskStep::kCreate || (c.step == DiskStep::kFolderFlush && std::string(c.pathEnd) == "Queue"))
        Restart();
      gFault.armed = true;
    }
    // The submission whose write fails: refused, and gone.
    EXPECT_EQ(Try("5552"), 0u);
    EXPECT_GE(gFault.hits, 1);
    EXPECT_EQ(Numbers(), acknowledged);
    gFault.armed = false;
    ASSERT_NE(Try("5553"), 0u);
    acknowledged.insert("5553");
    CrashAndRestart();
    EXPECT_EQ(Numbers(), acknowledged);
  }
}

}  // namespace
}  // namespace korvo
