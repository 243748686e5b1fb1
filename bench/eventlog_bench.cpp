// The event log store: one entry into an empty log and into a full one (the
// ring overwriting its oldest records), and a dump-sized read of a full log.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/eventlog.h"

namespace {

using korvo::platform::EventLog;
using korvo::platform::kEventInformation;

// A log folder of its own for one benchmark, removed afterwards.
class TempLogDir {
 public:
  TempLogDir() {
    char templ[] = "/tmp/korvo-evtbench-XXXXXX";
    dir_ = mkdtemp(templ);
    setenv("KORVO_LOG_DIR", dir_.c_str(), 1);
    setenv("KORVO_MACHINE_HIVE", (dir_ + "/machine.reg").c_str(), 1);
  }
  ~TempLogDir() { std::filesystem::remove_all(dir_); }

 private:
  std::string dir_;
};

const std::string kText = "[someone] Operation 'Get fax from server' failed.";

void Fill(EventLog& log, int n) {
  for (int i = 0; i < n; ++i) log.Report("Korvo", kEventInformation, 1, 9000, {kText});
}

void BM_ReportIntoEmptyLog(benchmark::State& state) {
  TempLogDir dir;
  EventLog log;
  log.Open("Korvo");
  for (auto _ : state) {
    state.PauseTiming();
    log.Clear();
    state.ResumeTiming();
    log.Report("Korvo", kEventInformation, 1, 9000, {kText});
  }
}
BENCHMARK(BM_ReportIntoEmptyLog);

// Opening, writing and closing, as each server log line does.
void BM_ReportIntoFullLogOpenEachTime(benchmark::State& state) {
  TempLogDir dir;
  {
    EventLog log;
    log.Open("Korvo");
    Fill(log, 12000);  // past the 512 KiB limit: the ring has wrapped
  }
  for (auto _ : state) {
    EventLog log;
    log.Open("Korvo");
    log.Report("Korvo", kEventInformation, 1, 9000, {kText});
  }
}
BENCHMARK(BM_ReportIntoFullLogOpenEachTime);

void BM_ReadNewest1024OfFullLog(benchmark::State& state) {
  TempLogDir dir;
  EventLog log;
  log.Open("Korvo");
  Fill(log, 12000);
  for (auto _ : state) {
    int n = 0;
    log.ReadNewestFirst([&](const korvo::platform::EventRecord&) { return ++n < 1024; });
    benchmark::DoNotOptimize(n);
  }
}
BENCHMARK(BM_ReadNewest1024OfFullLog);

}  // namespace
