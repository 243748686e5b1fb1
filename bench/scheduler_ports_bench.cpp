// One scheduler pass handing a due job to one of 128 send-only modems (on
// pseudo-terminals, with the server's own port timing), with every modem
// answering and with the first modem of the table silent. The silent modem
// fails its first on-demand initialisation in the warm-up pass and is out of
// service from then on: later passes must cost no more than with all
// answering. The warm-up pass with the silent modem is measured on its own
// (FirstEncounter): its wait holds no lock, but the pass itself waits it out.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/database.h"
#include "common/modem_record.h"
#include "common/page_descriptor.h"
#include "common/settings.h"
#include "common/tiff_writer.h"
#include "platform/sync.h"
#include "server/modem_subsystem.h"
#include "server/queue.h"
#include "tests/server/fake_modem.h"

namespace {

namespace fs = std::filesystem;
using korvo::ModemPort;

constexpr int kModems = 128;
int64_t gNow = 1700000000;
int64_t Clock() { return gNow; }

// The send session: the job is done at once and the port goes back on demand.
void SendEntry(ModemPort& port) {
  auto list = port.Requests();
  if (list && korvo::g_Queue)
    for (const auto& e : *list) korvo::g_Queue->SetJobResult(e.jobId, 1, korvo::JobState::Ok, 1, 1);
  port.Restart();
}
void ReceiveEntry(ModemPort&) {}

class Installation {
 public:
  explicit Installation(bool firstSilent) {
    const char* base = getenv("KORVO_BENCH_DIR");
    std::string dir = std::string(base ? base : "/var/tmp") + "/korvo-ports-XXXXXX";
    if (!mkdtemp(dir.data())) std::abort();
    root_ = dir;
    setenv("KORVO_MACHINE_HIVE", (root_ / "machine.reg").c_str(), 1);
    setenv("KORVO_USER_HIVE", (root_ / "user.reg").c_str(), 1);
    setenv("KORVO_LOG_DIR", (root_ / "log").c_str(), 1);
    for (const char* sub : {"Config", "Queue", "Temp", "log"}) fs::create_directories(root_ / sub);
    KvSetServerRoot(root_.c_str());
    SetRetryTimeout(3);
    SetRetryAttempts(5);
    for (int i = 0; i < kModems; ++i) {
      korvo::test::FakeModem::Behaviour b;
      b.silent = firstSilent && i == 0;
      modems_.push_back(std::make_unique<korvo::test::FakeModem>(b));
    }
    {
      korvo::Database db(korvo::GetModemsPath().c_str(), sizeof(korvo::ModemRecord), korvo::CompareModemIds);
      if (!db.Open()) std::abort();
      for (auto& m : modems_) {
        korvo::ModemRecord r;
        r.portName.Assign(m->path());
        r.usage = ModemPort::kUsageSend;
        r.enabled = true;
        r.id = static_cast<int32_t>(db.NextSerial());
        db.Add(&r);
      }
      db.Close();
    }
    korvo::ModemSubsystem::SetMonitorPeriod(korvo::platform::kInfinite);
    ModemPort::SetSessionEntryPoints(SendEntry, ReceiveEntry);
    int ok = 0;
    subsystem_ = std::make_unique<korvo::ModemSubsystem>(nullptr, &ok);
    korvo::g_ModemSubsystem = subsystem_.get();
    korvo::QueueConfig config;
    config.listPath = (root_ / "Queue" / "Queue.lst").string();
    config.queueDir = (root_ / "Queue").string();
    config.clock = Clock;
    config.periodMs = korvo::platform::kInfinite;
    queue_ = std::make_unique<korvo::Queue>(config, &ok);
    korvo::g_Queue = queue_.get();
  }
  ~Installation() {
    subsystem_->StopSessions();
    queue_.reset();
    korvo::g_Queue = nullptr;
    subsystem_.reset();
    korvo::g_ModemSubsystem = nullptr;
    modems_.clear();
    fs::remove_all(root_);
  }

  void Submit() {
    const std::string image = (root_ / "Queue" / ("FAX" + std::to_string(++n_) + ".TMP")).string();
    korvo::TiffWriter writer;
    writer.Open(image);
    korvo::PageDescriptor page;
    page.length = 1;
    const uint8_t eol[] = {0x00, 0x80, 0xB2, 0x59, 0x01};
    writer.WritePage(page, eol, sizeof eol);
    writer.Close();
    korvo::FaxHeader h;
    h.sender = korvo::FaxSenderOrRecipient("alice", 1, "", "", "", "");
    h.sendTime = korvo::ScheduleTimeInfo(2, static_cast<int32_t>(gNow));
    h.recipients.AddTail(korvo::FaxSenderOrRecipient("5551", 0, "", "", "", ""));
    queue_->InsertFax(image.c_str(), h, korvo::Queue::kKindSubmitted, 0, korvo::JobState::Queued);
  }
  // Until the send session has reported and the queue is empty again.
  void WaitDone() {
    while (!queue_->Jobs().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  bool Pass() { return queue_->SchedulerPass(); }

 private:
  fs::path root_;
  int n_ = 0;
  std::vector<std::unique_ptr<korvo::test::FakeModem>> modems_;
  std::unique_ptr<korvo::ModemSubsystem> subsystem_;
  std::unique_ptr<korvo::Queue> queue_;
};

void RunPasses(benchmark::State& state, bool firstSilent) {
  Installation installation(firstSilent);
  // Warm-up: the silent modem (if any) fails here and goes out of service.
  installation.Submit();
  installation.Pass();
  installation.WaitDone();
  for (auto _ : state) {
    state.PauseTiming();
    installation.Submit();
    state.ResumeTiming();
    benchmark::DoNotOptimize(installation.Pass());
    state.PauseTiming();
    installation.WaitDone();
    state.ResumeTiming();
  }
}

void BM_SchedulerPassAllAnswering(benchmark::State& state) { RunPasses(state, false); }
void BM_SchedulerPassOneSilent(benchmark::State& state) { RunPasses(state, true); }

void BM_FirstEncounter(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto installation = std::make_unique<Installation>(true);
    installation->Submit();
    state.ResumeTiming();
    benchmark::DoNotOptimize(installation->Pass());
    state.PauseTiming();
    installation->WaitDone();
    installation.reset();
    state.ResumeTiming();
  }
}

BENCHMARK(BM_SchedulerPassAllAnswering)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();
BENCHMARK(BM_SchedulerPassOneSilent)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();
BENCHMARK(BM_FirstEncounter)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace
