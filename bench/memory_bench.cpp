// Resident memory of the server with every port busy: 64 send ports fax 64
// receive ports through the simulated exchange (128 ports in 64 calls),
// round after round for the run's length; the resident size after the first
// round and after the last, so growth over the run shows.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/database.h"
#include "common/fax_header.h"
#include "common/job_state.h"
#include "common/settings.h"
#include "common/tiff_writer.h"
#include "bench/modemsim_process.h"
#include "platform/process.h"
#include "server/fax_session.h"
#include "server/faxserver.h"
#include "server/modem_subsystem.h"
#include "server/queue.h"
#include "server/syslog.h"
#include "tests/common/fax_pages.h"
#include "tests/support/sandbox.h"

namespace {

using namespace korvo;
constexpr int kCalls = 64;

long RssKiB() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return 0;
}

// The exchange with kCalls send and kCalls receive modems.
bench::ModemsimProcess StartSimulator(const std::filesystem::path& dir) {
  std::vector<std::string> args = {"--set", "dir " + dir.string(), "--set", "ring-ms 200"};
  for (int i = 0; i < kCalls; ++i) {
    args.push_back("--modem");
    args.push_back("name=tx" + std::to_string(i) + " number=" + std::to_string(100 + i));
    args.push_back("--modem");
    args.push_back("name=rx" + std::to_string(i) + " number=" + std::to_string(500 + i));
  }
  return bench::ModemsimProcess(std::move(args));
}

// Argument: the run's length in seconds.
void BM_ResidentWithEveryPortBusy(benchmark::State& state) {
  platform::LimitMemoryPools(4);  // as the server's start does
  test::Sandbox box;
  for (const char* d : {"root/Config", "root/Temp", "root/Queue", "sim"}) std::filesystem::create_directories(box.path(d));
  KvSetServerRoot(box.path("root").c_str());
  SetStationIdentifier("KORVO BENCH");
  bench::ModemsimProcess sim = StartSimulator(box.path("sim"));
  int ok = 0;
  SysLog log("unused.log", kSysLogMaxSize, &ok);
  g_SysLog = &log;
  InstallFaxSessions();
  {
    Database db(GetModemsPath().c_str(), sizeof(ModemRecord), CompareModemIds);
    db.Open();
    for (const auto& [name, path] : sim.ports) {
      ModemRecord r;
      r.portName.Assign(path);
      r.usage = name[0] == 't' ? ModemPort::kUsageSend : ModemPort::kUsageReceive;
      r.enabled = 1;
      r.faxSpeed = 5;
      r.portSpeed = 6;
      r.id = static_cast<int32_t>(db.NextSerial());
      db.Add(&r);
    }
    db.Close();
  }
  ModemSubsystem::SetMonitorPeriod(100);
  auto modems = std::make_unique<ModemSubsystem>(nullptr, &ok);
  g_ModemSubsystem = modems.get();
  QueueConfig qc;
  qc.listPath = box.path("root/Queue/Queue.lst").string();
  qc.queueDir = box.path("root/Queue").string();
  qc.periodMs = platform::kInfinite;
  auto queue = std::make_unique<Queue>(qc, &ok);
  g_Queue = queue.get();
  const std::string image = box.path("root/Queue/PAGE.TMP").string();
  {
    TiffWriter writer;
    writer.Open(image);
    PageDescriptor page;
    page.length = 1100;
    const auto coded = test::EncodePage(test::TextPage(1728, 1100, 7), 1728, 1100);
    writer.WritePage(page, coded.data(), static_cast<uint32_t>(coded.size()));
    writer.Close();
  }

  long first = 0, last = 0, peak = 0, rounds = 0;
  bool stuck = false;
  for (auto _ : state) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(state.range(0));
    while (!stuck && std::chrono::steady_clock::now() < end) {
      for (int i = 0; i < kCalls; ++i) {
        const std::string copy = box.path("root/Queue/FAX" + std::to_string(i) + ".TMP").string();
        std::filesystem::copy_file(image, copy, std::filesystem::copy_options::overwrite_existing);
        FaxHeader h;
        h.sender = FaxSenderOrRecipient("alice", 1, "", "", "", "");
        h.sendTime = ScheduleTimeInfo(0, static_cast<int32_t>(std::time(nullptr)) - 10);
        h.recipients.AddTail(FaxSenderOrRecipient(std::to_string(500 + i), 0, "", "", "", ""));
        queue->InsertFax(copy.c_str(), h, Queue::kKindSubmitted, 0, JobState::Queued);
      }
      queue->SchedulerPass();
      // The round is over when no outgoing job is left and no session runs.
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(600);
      for (;;) {
        bool outgoing = false;
        for (const auto& job : queue->Jobs()) outgoing = outgoing || job.direction == 1;
        if (!outgoing && FaxSessionCounter::Count() == 0) break;
        if (std::chrono::steady_clock::now() > deadline) {
          state.SkipWithError("a round did not end");
          stuck = true;
          break;
        }
        // A call that failed is retried once due: passes hand it out again.
        queue->SchedulerPass();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      // The received faxes go, as clients fetching them would take them.
      for (const auto& job : queue->Jobs()) queue->SetJobResult(job.jobId, 0, 0, 0, 0);
      queue->SchedulerPass();
      last = RssKiB();
      peak = std::max(peak, last);
      if (++rounds == 1) first = last;
      std::fprintf(stderr, "round %ld: %ld KiB\n", rounds, last);
    }
  }
  state.counters["rounds"] = static_cast<double>(rounds);
  state.counters["rss_first_MiB"] = static_cast<double>(first) / 1024;
  state.counters["rss_last_MiB"] = static_cast<double>(last) / 1024;
  state.counters["rss_peak_MiB"] = static_cast<double>(peak) / 1024;

  modems.reset();
  g_ModemSubsystem = nullptr;
  queue.reset();
  g_Queue = nullptr;
  g_SysLog = nullptr;
}
// A minute by default; KORVO_MEMORY_BENCH_SECONDS sets another length (the
// 30-minute run).
const int kRegistered = [] {
  const char* seconds = std::getenv("KORVO_MEMORY_BENCH_SECONDS");
  const long n = seconds ? std::strtol(seconds, nullptr, 10) : 0;
  benchmark::RegisterBenchmark("BM_ResidentWithEveryPortBusy", BM_ResidentWithEveryPortBusy)
      ->Arg(n > 0 ? n : 60)
      ->Iterations(1)
      ->Unit(benchmark::kSecond);
  return 0;
}();

}  // namespace
