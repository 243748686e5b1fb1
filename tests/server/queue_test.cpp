#include "server/queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <list>
#include <mutex>
#include <set>
#include <thread>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/status_codes.h"
#include "common/tiff_reader.h"
#include "tests/server/queue_fixture.h"

namespace korvo {
namespace {

namespace fs = std::filesystem;
using test::Fax;
using test::gClockNow;
using test::Lan;

// Queue.lst bytes written field by field from the file layout.
struct Bytes {
  std::string b;
  Bytes& d32(uint32_t v) {
    for (int i = 0; i < 4; ++i) b += static_cast<char>(v >> (8 * i));
    return *this;
  }
  Bytes& d16(uint16_t v) {
    b += static_cast<char>(v & 0xFF);
    b += static_cast<char>(v >> 8);
    return *this;
  }
  Bytes& d8(uint8_t v) {
    b += static_cast<char>(v);
    return *this;
  }
  Bytes& text(const std::string& s) {  // all texts here are shorter than 255
    d8(static_cast<uint8_t>(s.size()));
    b += s;
    return *this;
  }
  Bytes& party(const std::string& address, uint32_t lan, const std::string& name = "") {
    return text(address).d32(lan).text(name).text("").text("").text("");
  }
  Bytes& image(uint32_t id, uint16_t pages, uint16_t refs, const std::string& path) {
    return d32(id).d16(pages).d16(refs).text(path).text("Offer").d32(0).party("alice", 1);
  }
  // An outgoing job to the number, queued, one attempt of five made.
  Bytes& job(uint32_t direction, uint32_t imageId, uint32_t jobId, int32_t due, int32_t state, int32_t sending,
             const std::string& number, uint32_t lan = 0, uint32_t checkedOut = 0) {
    d32(direction).d32(imageId).d32(jobId).d32(1000).d32(static_cast<uint32_t>(due)).d32(0);
    d8(100).d32(3).d32(5).d32(0).d16(0).d32(static_cast<uint32_t>(state)).d32(0);
    text("").d32(static_cast<uint32_t>(sending)).d32(checkedOut).d32(0).d32(0).d32(0);
    return party(number, lan);
  }
};

class QueueTest : public test::QueueFixture {};

TEST_F(QueueTest, TwoNumbersAndALanUserShareOneImage) {
  std::string path = Image(3);
  ASSERT_EQ(Q().InsertFax(path.c_str(), Header({Fax("5551"), Lan("bob"), Fax("5552")}, 1700000000),
                          Queue::kKindSubmitted, 0, JobState::Queued),
            1);
  auto images = Q().Images();
  ASSERT_EQ(images.size(), 1u);
  EXPECT_EQ(images[0].refCount, 3);
  EXPECT_EQ(images[0].pageCount, 3);
  auto jobs = Q().Jobs();
  ASSERT_EQ(jobs.size(), 3u);
  int outgoing = 0;
  for (auto& j : jobs) {
    EXPECT_EQ(j.imageId, images[0].id);
    if (j.recipient.lan) {
      EXPECT_EQ(j.direction, 0);
      EXPECT_EQ(j.state, JobState::Ok);
      EXPECT_EQ(j.pages, 3);
    } else {
      ++outgoing;
      EXPECT_EQ(j.direction, 1);
      EXPECT_EQ(j.state, JobState::Queued);
      EXPECT_EQ(j.retryInterval, 3u);
      EXPECT_EQ(j.attemptsAllowed, 5u);
    }
  }
  EXPECT_EQ(outgoing, 2);
  auto log = LogTexts();
  EXPECT_NE(std::find(log.begin(), log.end(), "FAX to 'bob' pages 3, 0 sec, on LAN, OK."), log.end());
  // The LAN delivery is in the user's input box.
  auto box = ListLines(5026, "BOB");
  ASSERT_EQ(box.size(), 1u);
  EXPECT_EQ(Field(box[0], 14), "Tx/Rx (LAN)");
}

TEST_F(QueueTest, InsertionFailures) {
  // Each failure names its cause.
  Status why = 0;
  std::string empty = Image(0);
  EXPECT_EQ(Q().InsertFax(empty.c_str(), Header({Fax("5551")}, 0), 1, 0, 10, &why), 0);
  EXPECT_EQ(why, kStatusOpenPrnOrTiff);
  std::string good = Image(1, "FAX0002.TMP");
  EXPECT_EQ(Q().InsertFax(good.c_str(), Header({}, 0), 1, 0, 10, &why), 0);
  EXPECT_EQ(why, kStatusUndialableNumber);
  EXPECT_EQ(Q().InsertFax((root_ / "missing.tif").c_str(), Header({Fax("5551")}, 0), 1, 0, 10, &why), 0);
  EXPECT_EQ(why, kStatusOpenPrnOrTiff);
  EXPECT_TRUE(Q().Images().empty());
  EXPECT_TRUE(Q().Jobs().empty());
  // The caller keeps its file on failure.
  EXPECT_TRUE(fs::exists(good));
  // The image counter still moves on.
  EXPECT_EQ(Q().ImageCounter(), 3u);
}

TEST_F(QueueTest, DueJobsForTheSameNumberGoInOneBatch) {
  struct Case {
    const char* a;
    const char* b;
    size_t batches;
  };
  const Case cases[] = {{"555 1234", "555 1234", 1}, {"5551234", "555 1234", 2}, {"ABC1", "abc1", 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " / " + c.b);
    queue_.reset();
    fs::remove(ListPath());
    ports_.batches.clear();
    Submit({Fax(c.a)});
    Submit({Fax(c.b)});
    ASSERT_TRUE(Q().SchedulerPass());
    ASSERT_EQ(ports_.batches.size(), c.batches);
    size_t entries = 0;
    for (auto& b : ports_.batches) entries += static_cast<size_t>(b.list->GetCount());
    EXPECT_EQ(entries, 2u);
    for (auto& j : Q().Jobs()) {
      EXPECT_EQ(j.sending, 1);
      EXPECT_EQ(j.state, JobState::Sending);
    }
    for (size_t i = 0; i < ports_.batches.size(); ++i) ports_.Finish(i);
  }
}

TEST_F(QueueTest, ThirtyDaysIsStillSentOneSecondMoreExpires) {
  const uint32_t kept = Submit({Fax("5551")}, gClockNow - 2592000);
  const uint32_t expired = Submit({Fax("5552")}, gClockNow - 2592001);
  ASSERT_TRUE(Q().SchedulerPass());
  ASSERT_EQ(ports_.batches.size(), 1u);
  EXPECT_EQ((*ports_.batches[0].list)[0].jobId, kept);
  EXPECT_FALSE(HasJob(expired));
  auto lines = JournalLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(Field(lines[0], 1), std::to_string(expired));
  EXPECT_EQ(Field(lines[0], 10), "500");
  // Its image had no other job and went with it.
  EXPECT_EQ(Q().Images().size(), 1u);
}

TEST_F(QueueTest, AJobExpiringBesideABatchOfItsNumberIsJournaledOnce) {
  const uint32_t old = Submit({Fax("5551")}, gClockNow - 2592001, 0);
  const uint32_t due = Submit({Fax("5551")}, gClockNow - 10);
  ASSERT_TRUE(Q().SchedulerPass());
  ASSERT_EQ(ports_.batches.size(), 1u);
  ASSERT_EQ(ports_.batches[0].list->GetCount(), 1);
  EXPECT_EQ((*ports_.batches[0].list)[0].jobId, due);
  EXPECT_FALSE(HasJob(old));
  ASSERT_TRUE(Q().SchedulerPass());
  auto lines = JournalLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(Field(lines[0], 10), "500");
}

TEST_F(QueueTest, RetriesRaiseThePriorityAndTheLastAttemptReturnsTheFax) {
  const uint32_t normal = Submit({Fax("5551")}, gClockNow, 100);
  const uint32_t low = Submit({Fax("5552")}, gClockNow, 255);
  for (int attempt = 1; attempt <= 3; ++attempt) {
    ASSERT_EQ(Q().RetryJob(normal, JobState::NoResponse, 0, 5), 1);
    ASSERT_EQ(Q().RetryJob(low, JobState::CommunicationError, 1, 5), 1);
  }
  FaxReq n = Job(normal);
  EXPECT_EQ(n.priority, 103);
  EXPECT_EQ(n.dueTime, gClockNow + 3 * 60);
  EXPECT_EQ(n.saferDialing, 1);
  EXPECT_EQ(n.seconds, 15);
  EXPECT_EQ(n.attemptsMade, 3);
  EXPECT_EQ(n.direction, 1);
  EXPECT_EQ(Job(low).priority, 255);
  // Attempts four and five: the fifth gives up.
  ASSERT_EQ(Q().RetryJob(normal, JobState::NoResponse, 0, 0), 1);
  EXPECT_EQ(Job(normal).direction, 1);
  ASSERT_EQ(Q().RetryJob(normal, JobState::NoResponse, 0, 0), 1);
  n = Job(normal);
  EXPECT_EQ(n.direction, 0);
  EXPECT_EQ(n.returned, 1);
  EXPECT_EQ(n.state, JobState::NoResponse);
  auto returned = ListLines(5030, "ALICE");
  ASSERT_EQ(returned.size(), 1u);
  EXPECT_EQ(Field(returned[0], 1), std::to_string(normal));
  EXPECT_EQ(Field(returned[0], 13), "1");
  EXPECT_EQ(Q().RetryJob(999, 300, 0, 0), 0);
}

// A job that waited long past its due time is tried again the interval
// after its failure, not at once.
TEST_F(QueueTest, ARetryIsDueTheIntervalAfterNow) {
  const uint32_t id = Submit({Fax("5551")}, gClockNow - 3600);
  ASSERT_TRUE(Q().SchedulerPass());
  ASSERT_EQ(ports_.batches.size(), 1u);
  ports_.Finish(0);
  gClockNow += 40;
  ASSERT_EQ(Q().RetryJob(id, JobState::NoResponse, 0, 40), 1);
  EXPECT_EQ(Job(id).dueTime, gClockNow + 3 * 60);
  ASSERT_TRUE(Q().SchedulerPass());
  EXPECT_EQ(ports_.batches.size(), 1u);
  gClockNow += 3 * 60;
  ASSERT_TRUE(Q().SchedulerPass());
  EXPECT_EQ(ports_.batches.size(), 2u);
}

// A cover page drawer that holds the queue (it runs within an insertion)
// until the test lets it go.
struct DrawerGate {
  std::mutex m;
  std::condition_variable cv;
  bool entered = false;
  bool open = false;
} gDrawerGate;

Status BlockingDrawer(const std::string&, const FaxSenderOrRecipient&, const FaxSenderOrRecipient&,
                      const std::string&, int32_t, uint16_t) {
  std::unique_lock hold(gDrawerGate.m);
  gDrawerGate.entered = true;
  gDrawerGate.cv.notify_all();
  gDrawerGate.cv.wait(hold, [] { return gDrawerGate.open; });
  return kStatusCreateCoverPage;
}

// A send session's result that finds the queue busy beyond the lock's time
// is retried until it is recorded, never dropped with the job left sending.
TEST_F(QueueTest, AResultMeetingABusyQueueIsRetriedUntilRecorded) {
  struct Case {
    const char* what;
    bool retry;
  };
  for (const Case c : {Case{"result", false}, Case{"retry", true}}) {
    SCOPED_TRACE(c.what);
    queue_.reset();
    ports_ = test::FakePorts(128);
    {
      std::lock_guard hold(gDrawerGate.m);
      gDrawerGate.entered = gDrawerGate.open = false;
    }
    drawer_ = BlockingDrawer;
    lockTimeoutMs_ = 20;
    const uint32_t id = Submit({Fax("5551")});
    ASSERT_TRUE(Q().SchedulerPass());
    ASSERT_EQ(Job(id).sending, 1);

    const std::string cover = Image(1, "FAXC.TMP");
    FaxHeader header = Header({Fax("5552")}, static_cast<int32_t>(gClockNow), 100, FaxHeader::kSendCoverPage);
    std::thread busy([&] { Q().InsertFax(cover.c_str(), header, Queue::kKindSubmitted, 0, JobState::Queued); });
    {
      std::unique_lock hold(gDrawerGate.m);
      gDrawerGate.cv.wait(hold, [] { return gDrawerGate.entered; });
    }
    auto report = std::async(std::launch::async, [&] {
      return c.retry ? static_cast<Status>(Q().RetryJob(id, JobState::NoResponse, 0, 5))
                     : Q().SetJobResult(id, 1, JobState::Ok, 2, 10);
    });
    const std::string retried = "Queue busy: the result of job " + std::to_string(id) + " is retried";
    for (int i = 0; i < 2000; ++i) {
      if (report.wait_for(std::chrono::milliseconds(10)) == std::future_status::ready) break;
      const auto texts = LogTexts();
      if (std::find(texts.begin(), texts.end(), retried) != texts.end()) break;
    }
    {
      std::lock_guard hold(gDrawerGate.m);
      gDrawerGate.open = true;
      gDrawerGate.cv.notify_all();
    }
    busy.join();
    const Status status = report.get();
    if (c.retry) {
      EXPECT_EQ(status, 1u);
      const FaxReq job = Job(id);
      EXPECT_EQ(job.sending, 0);
      EXPECT_EQ(job.attemptsMade, 1);
    } else {
      EXPECT_EQ(status, kStatusSuccess);
      EXPECT_FALSE(HasJob(id));
      const auto journal = JournalLines();
      ASSERT_FALSE(journal.empty());
      EXPECT_EQ(Field(journal.back(), 10), "400");
    }
    drawer_ = nullptr;
  }
}

TEST_F(QueueTest, OrderedInsertionPutsAnUrgentJobBeforeLaterNormalOnes) {
  const uint32_t a = Submit({Fax("1")}, gClockNow + 100, 100);
  const uint32_t b = Submit({Fax("2")}, gClockNow + 200, 100);
  const uint32_t urgent = Submit({Fax("3")}, gClockNow + 150, 0);
  const uint32_t late = Submit({Fax("4")}, gClockNow + 50, 100);  // same priority: appended
  std::vector<uint32_t> order;
  for (auto& j : Q().Jobs()) order.push_back(j.jobId);
  EXPECT_EQ(order, (std::vector<uint32_t>{a, urgent, b, late}));
}

TEST_F(QueueTest, DeletingAJobBeingSentMarksItUntilThePortReports) {
  const uint32_t id = Submit({Fax("5551")});
  ASSERT_TRUE(Q().SchedulerPass());
  ASSERT_EQ(ports_.batches.size(), 1u);
  const std::string text = std::to_string(id);
  EXPECT_EQ(Q().DeleteJob(text.c_str()), kStatusMarkedForDeletion);
  EXPECT_EQ((*ports_.batches[0].list)[0].cancelled, 1);
  EXPECT_TRUE(HasJob(id));
  // The send thread reports the cancelled entry.
  EXPECT_EQ(Q().SetJobResult(id, 1, JobState::UserCanceled, 1, 20), 0u);
  EXPECT_FALSE(HasJob(id));
  auto lines = JournalLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(Field(lines[0], 10), "330");
  EXPECT_EQ(Field(lines[0], 7), "20");
  EXPECT_EQ(Q().DeleteJob(text.c_str()), kStatusRequestAlreadyDeleted);
  EXPECT_EQ(Q().SetJobResult(id, 1, 400, 0, 0), kStatusRequestAlreadyDeleted);
}

TEST_F(QueueTest, DeletingAQueuedJobCompletesItAsCanceled) {
  const uint32_t id = Submit({Fax("5551"), Lan("bob")});
  EXPECT_EQ(Q().DeleteJob(std::to_string(id - 1).c_str()), 0u);
  EXPECT_EQ(Q().DeleteJob(std::to_string(id).c_str()), 0u);
  EXPECT_TRUE(Q().Jobs().empty());
  auto lines = JournalLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(Field(lines[0], 10), "330");
  EXPECT_EQ(Field(lines[1], 10), "400");  // the LAN delivery keeps its state
  // The image goes with the next pass.
  ASSERT_TRUE(Q().SchedulerPass());
  EXPECT_TRUE(Q().Images().empty());
}

TEST_F(QueueTest, ADueJobWithoutPagesIsDroppedWithItsImage) {
  std::string path = Image(1, "FAX0009.TMP");
  test::Sandbox::writeFile(ListPath(), Bytes()
                                           .d32(1)
                                           .d32(1)
                                           .d16(3)
                                           .d16(1)
                                           .image(1, 0, 1, path)
                                           .d16(1)
                                           .job(1, 1, 1, static_cast<int32_t>(gClockNow), 10, 0, "5551")
                                           .b);
  ASSERT_EQ(Q().Jobs().size(), 1u);
  ASSERT_TRUE(Q().SchedulerPass());
  EXPECT_TRUE(ports_.batches.empty());
  EXPECT_TRUE(Q().Jobs().empty());
  EXPECT_TRUE(Q().Images().empty());
  EXPECT_FALSE(fs::exists(path));
  EXPECT_TRUE(JournalLines().empty());
}

TEST_F(QueueTest, CompletingAJobWhoseImageIsMissingWritesNoEntry) {
  test::Sandbox::writeFile(ListPath(),
                           Bytes().d32(4).d32(1).d16(3).d16(0).d16(1).job(0, 4, 1, 0, 400, 0, "bob", 1).b);
  EXPECT_EQ(Q().SetJobResult(1, 1, 400, 0, 0), 0u);
  EXPECT_TRUE(Q().Jobs().empty());
  EXPECT_TRUE(JournalLines().empty());
}

// A damaged list starts an empty queue, but is kept beside it (the next save
// would overwrite it), is reported, and no id is given a second time.
TEST_F(QueueTest, ADamagedListIsKeptAndItsIdsAreNotGivenAgain) {
  std::string path = Image(1);
  JournalJobInfo done;
  done.jobId = 50;
  done.imageId = 40;
  ASSERT_EQ(journal_->Add(Journal::BuildRecord(done, JournalImageInfo())), 0u);
  const std::string good =
      Bytes().d32(7).d32(9).d16(3).d16(1).image(7, 1, 1, path).d16(1).job(1, 7, 9, 0, 10, 0, "5551").b;
  std::string v2 = good;
  v2[8] = 2;
  std::string high = good;
  high[0] = 70;
  high[4] = 90;
  struct Case {
    const char* what;
    std::string bytes;
    uint32_t imageCounter, jobCounter;
  };
  const Case cases[] = {{"version 2", v2, 40, 50},
                        {"cut short", good.substr(0, good.size() - 3), 40, 50},
                        {"empty", "", 40, 50},
                        {"cut short, counters above the journal's", high.substr(0, 20), 70, 90}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    queue_.reset();
    fs::remove(ListPath() + ".damaged");
    test::Sandbox::writeFile(ListPath(), c.bytes);
    EXPECT_TRUE(Q().Jobs().empty());
    EXPECT_TRUE(Q().Images().empty());
    EXPECT_EQ(Q().JobCounter(), c.jobCounter);
    EXPECT_EQ(Q().ImageCounter(), c.imageCounter);
    EXPECT_EQ(test::Sandbox::readFile(ListPath() + ".damaged"), c.bytes);
    const auto texts = LogTexts();
    EXPECT_NE(std::find(texts.begin(), texts.end(),
                        "Queue list " + ListPath() + " is damaged, the queue starts empty; kept as " + ListPath() +
                            ".damaged"),
              texts.end());
    EXPECT_TRUE(fs::exists(path));  // the files of the old jobs stay
    // The next job is journaled under an id of its own.
    const uint32_t id = Submit({Lan("bob")});
    EXPECT_EQ(id, c.jobCounter + 1);
    EXPECT_EQ(Q().SetJobResult(id, 1, JobState::Ok, 1, 0), 0u);
    ASSERT_EQ(journal_->Clear(), 0u);
    ASSERT_EQ(journal_->Add(Journal::BuildRecord(done, JournalImageInfo())), 0u);
  }
  // A second damaged list does not replace the first one kept.
  queue_.reset();
  test::Sandbox::writeFile(ListPath(), "x");
  Q();
  EXPECT_EQ(test::Sandbox::readFile(ListPath() + ".damaged.2"), "x");
}

// What an earlier run left in Temp: a received fax whose insertion failed
// is filed, the files of a cut submission go, the queue's own images and
// the files of this run stay.
TEST_F(QueueTest, StartUpFilesLeftOverReceivedFaxesAndRemovesUnusedTemporaryFiles) {
  const fs::path temp = root_ / "Temp";
  fs::create_directories(temp);
  const std::string queued = (temp / "FAX0004.TMP").string();
  test::WriteFaxFile(queued, 1);
  ASSERT_EQ(Q().InsertFax(queued.c_str(), Header({Fax("5551")}, static_cast<int32_t>(gClockNow)),
                          Queue::kKindSubmitted, 0, JobState::Queued),
            1);
  queue_.reset();
  test::WriteFaxFile(temp / "REC0001.TMP", 2);
  for (const char* name : {"REC0002.TMP", "HDR0003.TMP", "FAX0005.TMP", "notes.txt", "REC0006.TMP"})
    test::Sandbox::writeFile(temp / name, "");
  const auto earlier = fs::file_time_type::clock::now() - std::chrono::hours(1);
  for (const char* name : {"FAX0004.TMP", "REC0001.TMP", "REC0002.TMP", "HDR0003.TMP", "FAX0005.TMP", "notes.txt"})
    fs::last_write_time(temp / name, earlier);

  tempDir_ = temp.string();
  Q();
  std::set<std::string> left;
  for (const auto& entry : fs::directory_iterator(temp)) left.insert(entry.path().filename().string());
  EXPECT_EQ(left, (std::set<std::string>{"FAX0004.TMP", "REC0001.TMP", "notes.txt", "REC0006.TMP"}));
  const auto incoming = ListLines(5010, "");
  ASSERT_EQ(incoming.size(), 1u);
  EXPECT_EQ(Field(incoming[0], 4), "<Partially received Fax>");
  EXPECT_EQ(Field(incoming[0], 8), "2");
  EXPECT_EQ(Field(incoming[0], 10), std::to_string(JobState::PartiallyReceived));
  const auto texts = LogTexts();
  EXPECT_NE(std::find(texts.begin(), texts.end(),
                      "Start-up repair of " + temp.string() +
                          ": 1 received fax(es) filed, 3 unused temporary file(s) removed"),
            texts.end());
  // Nothing more to do at the next start.
  Restart();
  EXPECT_EQ(ListLines(5010, "").size(), 1u);
}

TEST_F(QueueTest, StartUpQueuesAgainWhatWasBeingSent) {
  std::string path = Image(1);
  Bytes b;
  b.d32(1).d32(4).d16(3).d16(1).image(1, 1, 3, path).d16(3);
  b.job(1, 1, 2, 0, 140, 1, "5551").job(1, 1, 3, 0, 210, 0, "5552").job(0, 1, 4, 0, 320, 0, "~nobody", 0, 1);
  test::Sandbox::writeFile(ListPath(), b.b);
  auto jobs = Q().Jobs();
  ASSERT_EQ(jobs.size(), 3u);
  EXPECT_EQ(jobs[0].state, 10);
  EXPECT_EQ(jobs[0].sending, 0);
  EXPECT_EQ(jobs[1].state, 10);
  EXPECT_EQ(jobs[2].state, 320);
  EXPECT_EQ(ListLines(5010, "").size(), 1u);
  // Saved while a client was downloading it: free for the next download.
  EXPECT_EQ(Q().CheckOutJob(4, nullptr, nullptr, nullptr), 1);
  // A new job continues the counters.
  Submit({Fax("5553")});
  EXPECT_EQ(Q().JobCounter(), 5u);
  EXPECT_EQ(Q().ImageCounter(), 2u);
}

TEST_F(QueueTest, QueueListHasTheFileLayout) {
  gClockNow = 1000;
  std::string path = Image(2);
  FaxHeader h = Header({Fax("5551", "Ann"), Lan("bob")}, 5000, 100, FaxHeader::kSaferDialing);
  ASSERT_EQ(Q().InsertFax(path.c_str(), h, Queue::kKindSubmitted, 0, JobState::Queued), 1);
  Bytes want;
  want.d32(1).d32(2).d16(3);
  want.d16(1).d32(1).d16(2).d16(2).text(path).text("Offer").d32(1).party("alice", 1);
  want.d16(2);
  // LAN delivery appended after the outgoing job (same priority).
  want.d32(1).d32(1).d32(1).d32(1000).d32(5000).d32(0).d8(100).d32(3).d32(5).d32(0).d16(0).d32(10).d32(0);
  want.text("").d32(0).d32(0).d32(1).d32(0).d32(0).party("5551", 0, "Ann");
  want.d32(0).d32(1).d32(2).d32(1000).d32(5000).d32(0).d8(100).d32(3).d32(5).d32(0).d16(2).d32(400).d32(0);
  want.text("").d32(0).d32(0).d32(1).d32(0).d32(0).party("bob", 1);
  // Saved at once, before InsertFax returned: what a start would find
  // (here in the change log beside the list) is exactly that list.
  uint32_t images = 0, jobs = 0;
  std::list<FaxImg> savedImages;
  std::list<FaxReq> savedJobs;
  ASSERT_TRUE(Queue::ReadSaved(ListPath(), &images, &jobs, &savedImages, &savedJobs));
  std::vector<FaxImg> imageVector(savedImages.begin(), savedImages.end());
  std::vector<FaxReq> jobVector(savedJobs.begin(), savedJobs.end());
  EXPECT_EQ(Queue::Encode(images, jobs, imageVector, jobVector), want.b);
  Restart();
  queue_.reset();
  EXPECT_EQ(test::Sandbox::readFile(ListPath()), want.b);
  EXPECT_FALSE(fs::exists(ListPath() + ".new"));
}

TEST_F(QueueTest, EveryChangeIsSavedAtOnce) {
  const uint32_t a = Submit({Fax("5551")});
  const uint32_t b = Submit({Fax("5552")});
  const uint32_t c = Submit({Fax("5553")});
  // Each step, then what a fresh start finds.
  ASSERT_EQ(Q().RetryJob(a, 300, 0, 0), 1);
  ASSERT_EQ(Q().SetJobResult(b, 1, 400, 2, 30), 0u);
  ASSERT_EQ(Q().DeleteJob(std::to_string(c).c_str()), 0u);
  std::string saved = test::Sandbox::readFile(ListPath());
  // Reload into a second queue over a copy, so nothing is saved at its end.
  auto copy = sandbox_.path("copy.lst");
  test::Sandbox::writeFile(copy, saved);
  QueueConfig config = Config();
  config.listPath = copy.string();
  int ok = 0;
  Queue other(config, &ok);
  auto jobs = other.Jobs();
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].jobId, a);
  EXPECT_EQ(jobs[0].attemptsMade, 1);
}

TEST_F(QueueTest, ThePeriodicSaveKeepsLiveStatesEveryFiveMinutes) {
  const uint32_t id = Submit({Fax("5551")});
  ASSERT_TRUE(Q().SchedulerPass());  // handed to a port: kept in memory only
  auto stateOnDisk = [&] { return test::Sandbox::readFile(ListPath()); };
  const std::string before = stateOnDisk();
  gClockNow += 299;
  ASSERT_TRUE(Q().SchedulerPass());
  EXPECT_EQ(stateOnDisk(), before);
  gClockNow += 1;
  ASSERT_TRUE(Q().SchedulerPass());
  EXPECT_NE(stateOnDisk(), before);
  EXPECT_EQ(Job(id).state, JobState::Sending);
}

TEST_F(QueueTest, NoFreeModemsIsLoggedAtTheStartAndTheEndOfTheInterval) {
  ports_ = test::FakePorts(1);
  Submit({Fax("5551")});
  Submit({Fax("5552")});
  ASSERT_TRUE(Q().SchedulerPass());  // the first gets the port, the second none
  ASSERT_TRUE(Q().SchedulerPass());
  ports_.Finish(0);
  ASSERT_EQ(Q().SetJobResult(ports_.batches[0].list->operator[](0).jobId, 1, 400, 2, 10), 0u);
  ASSERT_TRUE(Q().SchedulerPass());
  auto log = LogTexts();
  EXPECT_EQ(std::count(log.begin(), log.end(), "<<< No free modems [start of time interval] !"), 1);
  EXPECT_EQ(std::count(log.begin(), log.end(), ">>> No free modems [end of time interval] !"), 1);
  EXPECT_EQ(ports_.batches.size(), 2u);
}

TEST_F(QueueTest, ARefusedSendFreesThePortAndKeepsTheJob) {
  const uint32_t id = Submit({Fax("5551")});
  ports_.refuseSend = true;
  ASSERT_TRUE(Q().SchedulerPass());
  EXPECT_EQ(Job(id).sending, 0);
  EXPECT_EQ(ports_.FindFreePort(), 0);  // released again
  auto log = LogTexts();
  EXPECT_NE(std::find(log.begin(), log.end(), "Send request list to ModemSubSystem ... FAILED!"), log.end());
}

// A number no modem can dial would be refused by every port on every pass:
// it is returned to its sender at once, and the list on disk says so.
TEST_F(QueueTest, ANumberTooLongToDialIsReturnedAtOnce) {
  const std::string longest(31, '5'), tooLong(32, '5');
  const uint32_t dialled = Submit({Fax(longest)});
  const uint32_t returned = Submit({Fax(tooLong)});
  ASSERT_TRUE(Q().SchedulerPass());
  ASSERT_EQ(ports_.batches.size(), 1u);
  EXPECT_EQ(ports_.batches[0].number, longest);
  EXPECT_EQ(Job(dialled).direction, 1);
  FaxReq r = Job(returned);
  EXPECT_EQ(r.direction, 0);
  EXPECT_EQ(r.returned, 1);
  EXPECT_EQ(r.state, JobState::CommunicationError);
  auto lines = ListLines(5030, "ALICE");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(Field(lines[0], 1), std::to_string(returned));
  auto log = LogTexts();
  EXPECT_NE(std::find(log.begin(), log.end(), "Fax number too long to dial: '" + tooLong + "'"), log.end());
  Restart();
  EXPECT_EQ(Job(returned).returned, 1);
  ASSERT_TRUE(Q().SchedulerPass());  // the cut-off send goes out again, the returned job stays
  for (const auto& batch : ports_.batches) EXPECT_EQ(batch.number, longest);
}

TEST_F(QueueTest, CheckOutHandsTheJobToOneDownloadAtATime) {
  const uint32_t id = Submit({Lan("bob")});
  const uint32_t outgoing = Submit({Fax("5551")});
  FaxHeader h;
  std::string image, cover;
  EXPECT_EQ(Q().CheckOutJob(outgoing, &h, &image, &cover), 0);
  {
    QueueJobLock lock(Q(), id, &h, &image, &cover);
    ASSERT_TRUE(lock.IsLocked());
    EXPECT_EQ(h.sender, Lan("alice"));
    EXPECT_EQ(h.subject, "Offer");
    EXPECT_EQ(h.queueWord, 2);
    EXPECT_EQ(h.queueField, 0);
    ASSERT_EQ(h.recipients.GetCount(), 1);
    EXPECT_EQ(h.recipients[0], Lan("bob"));
    EXPECT_EQ(h.sendTime.kind, 0);
    EXPECT_EQ(h.sendTime.time, Job(id).submitTime);
    EXPECT_TRUE(fs::exists(image));
    QueueJobLock second(Q(), id, &h, &image, &cover);
    EXPECT_FALSE(second.IsLocked());
  }
  {
    QueueJobLock again(Q(), id, &h, &image, &cover);
    ASSERT_TRUE(again.IsLocked());
    again.Downloaded();
    EXPECT_EQ(Q().SetJobResult(id, 0, 0, 0, 0), 0u);
  }
  EXPECT_FALSE(HasJob(id));
  auto lines = JournalLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(Field(lines[0], 10), "400");
}

TEST_F(QueueTest, ListFilters) {
  Submit({Fax("5551"), Lan("bob"), Lan("~nobody")});  // jobs 1-3 from alice
  const uint32_t back = Submit({Fax("5552")});         // returned to alice
  for (int i = 0; i < 5; ++i) Q().RetryJob(back, 300, 0, 0);
  struct Case {
    uint32_t code;
    const char* user;
    std::vector<std::string> jobs;
  };
  const Case cases[] = {
      {5000, "", {"2", "3", "4"}}, {5010, "", {"3"}},     {5020, "bob", {"2"}},  {5020, "Alice", {"4"}},
      {5026, "BOB", {"2"}},        {5026, "alice", {}},   {5030, "alice", {"4"}}, {6000, "", {"1"}},
      {6020, "ALICE", {"1"}},      {6020, "bob", {}},     {4711, "", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.code) + " " + c.user);
    std::vector<std::string> ids;
    for (auto& line : ListLines(c.code, c.user)) ids.push_back(Field(line, 1));
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, c.jobs);
  }
  auto out = ListLines(6000, "");
  ASSERT_EQ(out.size(), 1u);
  const std::string want = "1\x1B" "1\x1B" "alice\x1B" "5551\x1B" "Offer\x1B" + std::to_string(gClockNow) + "\x1B" +
                           std::to_string(gClockNow) + "\x1B" "0\x1B" "2\x1B" "0\x1B" "10\x1B" "0\x1B" "100\x1B"
                           "0\x1B" "Tx (Modem)\x1B";
  EXPECT_EQ(out[0], want);
  EXPECT_EQ(Q().WriteList(6000, "", (root_ / "no" / "such.lst").c_str()), kStatusInternalError);
}

TEST_F(QueueTest, ListsShowTheLiveStateOfAJobBeingSent) {
  const uint32_t id = Submit({Fax("5551")});
  ASSERT_TRUE(Q().SchedulerPass());
  auto& entry = (*ports_.batches[0].list)[0];
  entry.state = JobState::Negotiating;
  entry.pages = 1;
  auto out = ListLines(6000, "");
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(Field(out[0], 9), "1");
  EXPECT_EQ(Field(out[0], 10), "130");
  EXPECT_EQ(Job(id).state, JobState::Negotiating);
}

Status DrawTestCover(const std::string& path, const FaxSenderOrRecipient&, const FaxSenderOrRecipient& to,
                     const std::string&, int32_t, uint16_t) {
  if (to.address == "fail") return kStatusCreateCoverPage;
  test::WriteFaxFile(path, 1);
  return 0;
}

// A drawer that holds the submission inside its first cover page until the
// test lets it go.
std::mutex gDrawMutex;
std::condition_variable gDrawChanged;
bool gDrawing = false, gDrawMayGo = false;

Status DrawHeldCover(const std::string& path, const FaxSenderOrRecipient&, const FaxSenderOrRecipient&,
                     const std::string&, int32_t, uint16_t) {
  std::unique_lock lock(gDrawMutex);
  gDrawing = true;
  gDrawChanged.notify_all();
  gDrawChanged.wait(lock, [] { return gDrawMayGo; });
  test::WriteFaxFile(path, 1);
  return 0;
}

// Cover pages are drawn before the queue is taken: however long a
// submission's cover pages take, another user's list is answered meanwhile.
TEST_F(QueueTest, DrawingCoverPagesHoldsNoOneElseUp) {
  drawer_ = DrawHeldCover;
  lockTimeoutMs_ = 200;  // a list waiting for the queue would fail soon
  Q();
  std::string path = Image(2);
  auto submission = std::async(std::launch::async, [&] {
    return Q().InsertFax(path.c_str(), Header({Fax("5551"), Fax("5552")}, 0, 100, FaxHeader::kSendCoverPage),
                         Queue::kKindSubmitted, 0, JobState::Queued);
  });
  {
    std::unique_lock lock(gDrawMutex);
    ASSERT_TRUE(gDrawChanged.wait_for(lock, std::chrono::seconds(60), [] { return gDrawing; }));
  }
  EXPECT_TRUE(ListLines(6000, "").empty());
  {
    std::lock_guard lock(gDrawMutex);
    gDrawMayGo = true;
  }
  gDrawChanged.notify_all();
  EXPECT_EQ(submission.get(), 1);
  const auto jobs = Q().Jobs();
  ASSERT_EQ(jobs.size(), 2u);
  for (const auto& job : jobs) EXPECT_EQ(CountTiffPages(job.coverPath), 1);
}

TEST_F(QueueTest, EachRecipientGetsItsOwnCoverPageFile) {
  drawer_ = DrawTestCover;
  std::string path = Image(2);
  ASSERT_EQ(Q().InsertFax(path.c_str(), Header({Fax("5551"), Fax("fail"), Fax("5552")}, 0, 100,
                                                FaxHeader::kSendCoverPage),
                          Queue::kKindSubmitted, 0, JobState::Queued),
            1);
  std::vector<std::string> covers;
  for (auto& j : Q().Jobs()) {
    if (j.recipient.address == "fail") {
      EXPECT_EQ(j.coverPath, "");
      continue;
    }
    EXPECT_EQ(fs::path(j.coverPath).filename().string().substr(0, 3), "COV");
    EXPECT_EQ(fs::path(j.coverPath).parent_path(), root_ / "Queue");
    EXPECT_TRUE(fs::exists(j.coverPath));
    covers.push_back(j.coverPath);
  }
  ASSERT_EQ(covers.size(), 2u);
  EXPECT_NE(covers[0], covers[1]);
  // Only the cover pages of the jobs and the image are in the folder.
  size_t files = 0;
  for (auto& e : fs::directory_iterator(root_ / "Queue")) files += e.path().extension() == ".TMP" ? 1 : 0;
  EXPECT_EQ(files, 3u);
  for (auto& j : Q().Jobs()) Q().DeleteJob(std::to_string(j.jobId).c_str());
  for (auto& c : covers) EXPECT_FALSE(fs::exists(c));
}

TEST_F(QueueTest, TheServersCoverPageIsOnePageDrawnForTheRecipient) {
  drawer_ = DrawCoverPageFile;
  std::string path = Image(3);
  ASSERT_EQ(Q().InsertFax(path.c_str(), Header({Fax("5551", "Ann")}, 0, 100, FaxHeader::kSendCoverPage),
                          Queue::kKindSubmitted, 0, JobState::Queued),
            1);
  auto jobs = Q().Jobs();
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(CountTiffPages(jobs[0].coverPath), 1);
  // A file that cannot be created gives no cover page and no file.
  EXPECT_EQ(DrawCoverPageFile((root_ / "no" / "COV0001.TMP").string(), Lan("alice"), Fax("5551"), "", 0, 1),
            kStatusCreateCoverPage);
  EXPECT_FALSE(fs::exists(root_ / "no"));
}

TEST_F(QueueTest, ASaveThatFailsFailsTheInsertion) {
  Submit({Fax("5551")});
  // The folder of Queue.lst can no longer take the temporary file.
  fs::remove_all(root_ / "Queue");
  fs::create_directories(root_ / "Other");
  // One submission alone, then several at once that share failed saves:
  // each is refused and none of their jobs stays behind.
  for (const int clients : {1, 8}) {
    SCOPED_TRACE(clients);
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c)
      threads.emplace_back([&, c] {
        for (int i = 0; i < 4; ++i) {
          const std::string path = (root_ / "Other" / ("FAX" + std::to_string(c * 4 + i) + ".TMP")).string();
          test::WriteFaxFile(path, 1);
          EXPECT_EQ(Q().InsertFax(path.c_str(), Header({Fax("5552"), Fax("5553")}, 0), 1, 0, 10), 0);
        }
      });
    for (auto& t : threads) t.join();
    EXPECT_EQ(Q().Jobs().size(), 1u);
    EXPECT_EQ(Q().Images().size(), 1u);
  }
  fs::create_directories(root_ / "Queue");
}

// Submissions from many threads share saves, yet each one's jobs are on the
// disk (in Queue.lst or the change log beside it) by the time it returns; the
// images in a folder of their own are named there only once flushed.
TEST_F(QueueTest, EverySubmissionIsInTheSavedListWhenItReturns) {
  fs::create_directories(root_ / "Temp");
  constexpr int kThreads = 8;
  constexpr int kEach = 12;
  std::vector<std::thread> threads;
  std::atomic<int> missing{0};
  Q();
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        const std::string number = "555" + std::to_string(t) + "-" + std::to_string(i);
        const std::string path = (root_ / "Temp" / ("FAX" + number + ".TMP")).string();
        test::WriteFaxFile(path, 1);
        if (Q().InsertFax(path.c_str(), Header({Fax(number)}, 0), 1, 0, 10) != 1) {
          ADD_FAILURE() << number << " refused";
          continue;
        }
        uint32_t images = 0, jobs = 0;
        std::list<FaxImg> savedImages;
        std::list<FaxReq> savedJobs;
        if (!Queue::ReadSaved(ListPath(), &images, &jobs, &savedImages, &savedJobs)) {
          ADD_FAILURE() << "Queue.lst unreadable after " << number;
          continue;
        }
        const bool saved = std::any_of(savedJobs.begin(), savedJobs.end(),
                                       [&](const FaxReq& j) { return j.recipient.address == number; });
        const bool imageSaved = std::any_of(savedImages.begin(), savedImages.end(),
                                            [&](const FaxImg& image) { return image.path == path; });
        if (!saved || !imageSaved) ++missing;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(missing.load(), 0);
  EXPECT_EQ(Q().Jobs().size(), static_cast<size_t>(kThreads * kEach));
  // What a fresh start finds.
  Restart();
  EXPECT_EQ(Q().Jobs().size(), static_cast<size_t>(kThreads * kEach));
}

// Submissions go to a change log beside Queue.lst, taken into the list by a
// full save. Whatever moment a crash hits (while the list is rewritten,
// after its rename and before the log is removed, inside an append), a start
// finds every submission acknowledged, none twice, and what it then accepts
// is found by the start after it.
TEST_F(QueueTest, ACrashAtAnyPointOfTheChangeLogKeepsEverySubmissionOnce) {
  const std::string log = Queue::LogPath(ListPath());
  for (int i = 0; i < 3; ++i) Submit({Fax("555" + std::to_string(i))});
  const std::string records = test::Sandbox::readFile(log);
  ASSERT_FALSE(records.empty()) << "the submissions went to the log";
  ASSERT_FALSE(fs::exists(ListPath()));
  queue_.reset();  // the last save takes the log in
  const std::string list = test::Sandbox::readFile(ListPath());
  EXPECT_FALSE(fs::exists(log));
  const struct {
    const char* name;
    bool renamed;       // the rewritten list is in place
    std::string next;   // Queue.lst.new as the crash left it
    size_t cut;         // bytes missing at the log's end
    size_t found;
  } cases[] = {
      {"while the list is rewritten", false, list.substr(0, list.size() / 2), 0, 3},
      {"after the rename", true, "", 0, 3},
      {"inside an append", false, "", 5, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    queue_.reset();
    fs::remove(ListPath());
    fs::remove(ListPath() + ".new");
    if (c.renamed) test::Sandbox::writeFile(ListPath(), list);
    if (!c.next.empty()) test::Sandbox::writeFile(ListPath() + ".new", c.next);
    test::Sandbox::writeFile(log, records.substr(0, records.size() - c.cut));
    std::set<uint32_t> ids;
    for (const auto& job : Q().Jobs()) ids.insert(job.jobId);
    EXPECT_EQ(ids.size(), c.found);
    EXPECT_EQ(Q().Jobs().size(), c.found);
    const uint32_t next = Submit({Fax("5559")});
    EXPECT_EQ(ids.count(next), 0u);
    // Killed right after: the files as they are now.
    const std::string keptList = test::Sandbox::readFile(ListPath());
    const bool logLeft = fs::exists(log);
    const std::string keptLog = logLeft ? test::Sandbox::readFile(log) : "";
    queue_.reset();
    test::Sandbox::writeFile(ListPath(), keptList);
    if (logLeft) test::Sandbox::writeFile(log, keptLog);
    std::set<uint32_t> after;
    for (const auto& job : Q().Jobs()) after.insert(job.jobId);
    ids.insert(next);
    EXPECT_EQ(after, ids);
    EXPECT_EQ(Q().Jobs().size(), c.found + 1);
  }
}

// A list answers with what the server will hand out: a received fax shows
// only once its insertion is on disk, never in the moment between, when a
// download of it is refused.
TEST_F(QueueTest, AListedFaxIsOneTheServerHandsOut) {
  fs::create_directories(root_ / "Temp");
  constexpr int kFaxes = 100;
  Q();
  std::atomic<bool> done{false};
  std::atomic<int> refused{0}, listed{0};
  std::thread lister([&] {
    const std::string file = sandbox_.path("dispatch.lst").string();
    while (!done.load()) {
      ASSERT_EQ(Q().WriteList(5010, "", file.c_str()), 0u);
      for (auto& line : test::ListLines(test::Sandbox::readFile(file))) {
        const auto id = static_cast<uint32_t>(std::stoul(Field(line, 1)));
        ++listed;
        if (Q().CheckOutJob(id, nullptr, nullptr, nullptr) == 1)
          Q().ReleaseJob(id);
        else
          ++refused;
      }
    }
  });
  for (int i = 0; i < kFaxes; ++i) {
    const std::string path = (root_ / "Temp" / ("REC" + std::to_string(i) + ".TMP")).string();
    test::WriteFaxFile(path, 1);
    EXPECT_EQ(Q().InsertFax(path.c_str(), Header({Lan("~nobody")}, 0), Queue::kKindReceived, 0, 10), 1);
  }
  done = true;
  lister.join();
  EXPECT_GT(listed.load(), 0);
  EXPECT_EQ(refused.load(), 0) << "of " << listed.load() << " listed";
}

TEST_F(QueueTest, JobStateNames) {
  EXPECT_STREQ(JobState::Name(120), "Connecting to remote fax");
  EXPECT_STREQ(JobState::Name(500), "Queue holding time expired");
  EXPECT_STREQ(JobState::Name(11), "");
  EXPECT_TRUE(JobState::IsActive(100));
  EXPECT_TRUE(JobState::IsActive(210));
  EXPECT_FALSE(JobState::IsActive(300));
  EXPECT_FALSE(JobState::IsActive(10));
}


// Ports whose batches a send thread of the test takes and reports; every
// call is locked, as the scheduler and the send thread meet here.
class ThreadedPorts : public SendPorts {
 public:
  int FindFreePort() override {
    std::lock_guard hold(m_);
    return busy_ < 4 ? busy_++ : -1;
  }
  bool StartSend(int port, const char*, std::shared_ptr<SendRequestList> list) override {
    std::lock_guard hold(m_);
    pending_.push_back({port, std::move(list)});
    cv_.notify_all();
    return true;
  }
  void ReleasePort(int) override {
    std::lock_guard hold(m_);
    --busy_;
  }
  bool QueryPort(int, uint32_t, int32_t*, int32_t*, int32_t*) override { return false; }
  bool AbortRequest(int, uint32_t) override { return false; }

  // The send threads' side: reports every job of every batch, the first
  // attempt of each job failing, until told to stop.
  void Run(Queue& queue, const bool& stop) {
    std::set<uint32_t> failedOnce;
    for (;;) {
      std::pair<int, std::shared_ptr<SendRequestList>> batch;
      {
        std::unique_lock hold(m_);
        cv_.wait(hold, [&] { return stop || !pending_.empty(); });
        if (pending_.empty()) return;
        batch = pending_.front();
        pending_.erase(pending_.begin());
      }
      for (auto& e : *batch.second) {
        if (failedOnce.insert(e.jobId).second)
          queue.RetryJob(e.jobId, JobState::NoResponse, 0, 1);
        else
          queue.SetJobResult(e.jobId, 1, JobState::Ok, 2, 10);
      }
      ReleasePort(batch.first);
    }
  }
  void Wake() {
    std::lock_guard hold(m_);
    cv_.notify_all();
  }
  std::mutex& Lock() { return m_; }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  int busy_ = 0;
  std::vector<std::pair<int, std::shared_ptr<SendRequestList>>> pending_;
};

std::atomic<int64_t> gSharedNow{1700000000};
int64_t SharedClock() { return gSharedNow.load(); }

TEST_F(QueueTest, SubmissionsPassesAndReportsFromManyThreadsLoseNothing) {
  ThreadedPorts ports;
  QueueConfig config = Config();
  config.ports = &ports;
  config.clock = SharedClock;
  config.periodMs = 0;  // one pass after another
  constexpr int kThreads = 4;
  constexpr int kEach = 25;
  std::vector<std::string> images;
  for (int i = 0; i < kThreads * kEach; ++i) images.push_back(Image(1, "FAX" + std::to_string(i) + ".TMP"));
  int ok = 0;
  Queue queue(config, &ok);
  ASSERT_EQ(ok, 1);
  bool stop = false;
  std::thread sender([&] { ports.Run(queue, stop); });
  std::vector<std::thread> submitters;
  for (int t = 0; t < kThreads; ++t)
    submitters.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        const int n = t * kEach + i;
        FaxHeader h = Header({Fax("555" + std::to_string(n % 7))}, static_cast<int32_t>(gSharedNow.load()));
        EXPECT_EQ(queue.InsertFax(images[static_cast<size_t>(n)].c_str(), h, 1, 0, 10), 1);
      }
    });
  for (auto& t : submitters) t.join();
  // Wait (without a time limit of our own) until every job is through. The
  // retries fall due once the clock passes their interval after the failure.
  for (;;) {
    const auto jobs = queue.Jobs();
    if (jobs.empty()) break;
    if (std::all_of(jobs.begin(), jobs.end(), [](const FaxReq& j) { return !j.sending && j.attemptsMade == 1; }))
      gSharedNow += 3 * 60;
    std::this_thread::yield();
  }
  {
    std::lock_guard hold(ports.Lock());
    stop = true;
  }
  ports.Wake();
  sender.join();
  queue.StopScheduler();
  auto lines = JournalLines();
  EXPECT_EQ(lines.size(), static_cast<size_t>(kThreads * kEach));
  for (auto& line : lines) {
    EXPECT_EQ(Field(line, 10), "400");
    EXPECT_EQ(Field(line, 11), "1");  // one failed attempt before
  }
  EXPECT_TRUE(queue.SchedulerPass());
  EXPECT_TRUE(queue.Images().empty());
}

}  // namespace
}  // namespace korvo
