// The queue against the real modem subsystem: the scheduler picks a port,
// the port's send thread reports every job back to the queue, and a deletion
// reaches the port that is sending the job.
#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <future>
#include <thread>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/database.h"
#include "common/modem_record.h"
#include "common/status_codes.h"
#include "server/journal.h"
#include "server/modem_subsystem.h"
#include "server/queue.h"
#include "tests/server/engine_fixture.h"
#include "tests/server/fake_modem.h"
#include "tests/server/queue_fixture.h"

namespace korvo {
namespace {

int64_t Clock() { return 1700000000; }

// The send thread: waits until the test lets it go, then reports each job
// as a session does (cancelled 330, else 400) and frees the port.
struct Gate {
  std::mutex m;
  std::condition_variable cv;
  bool entered = false;
  bool open = false;
};
Gate gGate;

void SendEntry(ModemPort& port) {
  {
    std::unique_lock hold(gGate.m);
    gGate.entered = true;
    gGate.cv.notify_all();
    gGate.cv.wait(hold, [] { return gGate.open; });
  }
  std::vector<SendRequestEntry> done;
  auto list = port.Requests();
  {
    std::lock_guard hold(port.RequestsMutex());
    for (auto& e : *list) done.push_back(e);
  }
  for (auto& e : done) {
    const int32_t state = e.cancelled ? JobState::UserCanceled : JobState::Ok;
    g_Queue->SetJobResult(e.jobId, 1, state, e.cancelled ? 0 : 2, 15);
  }
  port.Restart();
}
void ReceiveEntry(ModemPort&) {}

class QueueModemsTest : public test::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ModemSubsystem::SetMonitorPeriod(platform::kInfinite);
    ModemPort::SetSessionEntryPoints(SendEntry, ReceiveEntry);
    ModemRecord r;
    r.portName.Assign(modem_.path());
    r.usage = ModemPort::kUsageBoth;
    r.enabled = true;
    {
      Database db(GetModemsPath().c_str(), sizeof(ModemRecord), CompareModemIds);
      ASSERT_TRUE(db.Open());
      r.id = static_cast<int32_t>(db.NextSerial());
      ASSERT_GE(db.Add(&r), 0);
      db.Close();
    }
    int ok = 0;
    modems_ = std::make_unique<ModemSubsystem>(nullptr, &ok);
    ASSERT_EQ(ok, 1);
    g_ModemSubsystem = modems_.get();
    journal_ = std::make_unique<Journal>(sandbox_.path("root/Config/Journal.dbs").c_str(), &ok);
    g_Journal = journal_.get();
    std::filesystem::create_directories(sandbox_.path("root/Queue"));
    QueueConfig config;
    config.listPath = sandbox_.path("root/Queue/Queue.lst").string();
    config.queueDir = sandbox_.path("root/Queue").string();
    config.clock = Clock;
    config.periodMs = platform::kInfinite;
    queue_ = std::make_unique<Queue>(config, &ok);
    g_Queue = queue_.get();
  }
  void TearDown() override {
    Open();
    if (modems_) modems_->StopSessions();
    queue_.reset();
    g_Queue = nullptr;
    modems_.reset();
    g_ModemSubsystem = nullptr;
    g_Journal = nullptr;
    journal_.reset();
    ModemPort::SetSessionEntryPoints(nullptr, nullptr);
    EngineTest::TearDown();
  }
  void Open() {
    std::lock_guard hold(gGate.m);
    gGate.open = true;
    gGate.cv.notify_all();
  }
  void WaitEntered() {
    std::unique_lock hold(gGate.m);
    gGate.cv.wait(hold, [] { return gGate.entered; });
  }
  // A fax of two pages to 5551; the name tells the image files apart.
  uint32_t Submit(const std::string& name) {
    const std::string image = sandbox_.path("root/Queue/FAX" + name + ".TMP").string();
    test::WriteFaxFile(image, 2);
    FaxHeader h;
    h.sender = test::Lan("alice");
    h.sendTime = ScheduleTimeInfo(2, static_cast<int32_t>(Clock()));
    h.recipients.AddTail(test::Fax("5551"));
    EXPECT_EQ(queue_->InsertFax(image.c_str(), h, Queue::kKindSubmitted, 0, JobState::Queued), 1);
    return queue_->JobCounter();
  }
  std::vector<std::string> JournalStates() {
    auto file = sandbox_.path("journal.lst");
    EXPECT_EQ(journal_->WriteList(Journal::kListAll, "", file.c_str()), 0u);
    std::vector<std::string> states;
    for (auto& line : test::ListLines(test::Sandbox::readFile(file)))
      states.push_back(test::ListField(line, 10));
    return states;
  }

  test::FakeModem modem_;
  std::unique_ptr<ModemSubsystem> modems_;
  std::unique_ptr<Journal> journal_;
  std::unique_ptr<Queue> queue_;
};

TEST_F(QueueModemsTest, ABatchGoesToThePortAndEveryJobIsReportedBack) {
  Submit("1");
  const uint32_t deleted = Submit("2");
  ASSERT_TRUE(queue_->SchedulerPass());
  WaitEntered();
  EXPECT_EQ(modems_->GetPort(0)->GetState(), PortState::Busy);
  for (auto& j : queue_->Jobs()) EXPECT_EQ(j.state, JobState::Sending);
  // The port flags the job; the send thread completes it when it reports.
  EXPECT_EQ(queue_->DeleteJob(std::to_string(deleted).c_str()), kStatusMarkedForDeletion);
  EXPECT_TRUE(Logged("ABORT REQUEST [" + std::to_string(deleted) + "] !"));
  Open();
  modems_->StopSessions();
  EXPECT_TRUE(queue_->Jobs().empty());
  EXPECT_EQ(JournalStates(), (std::vector<std::string>{"400", "330"}));
  EXPECT_NE(modems_->GetPort(0)->GetState(), PortState::Busy);
}

// The scheduler initialises an on-demand modem with the queue unlocked: a
// silent one keeps neither a received fax nor a result out of the queue.
TEST_F(QueueModemsTest, ASilentOnDemandModemHoldsUpNothingElse) {
  test::FakeModem::Behaviour silentBehaviour;
  silentBehaviour.silent = true;
  test::FakeModem silent(silentBehaviour);
  ModemRecord r;
  r.portName.Assign(silent.path());
  r.usage = ModemPort::kUsageSend;
  r.enabled = true;
  int32_t id = 0;
  ASSERT_EQ(modems_->AddModem(r.Encode().c_str(), &id), kStatusSuccess);
  // Its waits last until its line goes.
  ModemPortTiming slow = ModemPort::DefaultTiming();
  slow.serial.readTimeoutMs = 600000;
  modems_->GetPort(1)->SetTiming(slow);

  const uint32_t first = Submit("1");
  auto pass = std::async(std::launch::async, [&] { return queue_->SchedulerPass(); });
  for (int i = 0; i < 2000 && silent.commands().empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_FALSE(silent.commands().empty());

  // Meanwhile a fax is received and an earlier job's result comes in.
  const std::string received = sandbox_.path("root/Queue/REC0001.TMP").string();
  test::WriteFaxFile(received, 1);
  FaxHeader h;
  h.sender = test::Fax("Modem");
  h.sendTime = ScheduleTimeInfo(0, static_cast<int32_t>(Clock()));
  h.recipients.AddTail(test::Lan("~nobody"));
  EXPECT_EQ(queue_->InsertFax(received.c_str(), h, Queue::kKindReceived, 20, JobState::Ok), 1);
  EXPECT_EQ(queue_->SetJobResult(first, 1, JobState::UserCanceled, 0, 0), kStatusSuccess);
  const uint32_t second = Submit("2");

  silent.Unplug();
  EXPECT_TRUE(pass.get());
  WaitEntered();  // the second job went to the port that answers
  EXPECT_EQ(modems_->GetPort(1)->GetState(), PortState::OutOfService);
  bool sending = false;
  for (auto& j : queue_->Jobs())
    if (j.jobId == second) sending = j.sending == 1;
  EXPECT_TRUE(sending);
}

}  // namespace
}  // namespace korvo
