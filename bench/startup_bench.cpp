// Start-up of the modem step with many simulated modems: the time from the
// modem subsystem's creation until it is up (every modem initialised, the
// next start-up step, the request server, may begin), with 128 modems beside
// the same with one modem in the same run (the time one initialisation takes,
// the bound of modems initialised side by side).
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/modemsim_process.h"
#include "common/database.h"
#include "common/modem_record.h"
#include "common/settings.h"
#include "server/faxserver.h"
#include "server/modem_port.h"
#include "server/modem_subsystem.h"
#include "server/syslog.h"
#include "tests/support/sandbox.h"

namespace {

using namespace korvo;

// The exchange program with n modems.
bench::ModemsimProcess StartSimulator(const std::filesystem::path& dir, int n) {
  std::vector<std::string> args = {"--set", "dir " + dir.string()};
  for (int i = 0; i < n; ++i) {
    args.push_back("--modem");
    args.push_back("name=m" + std::to_string(i) + " number=" + std::to_string(1000 + i));
  }
  return bench::ModemsimProcess(std::move(args));
}

// Seconds until a modem subsystem over n simulated receive modems is up.
double StartUp(int n) {
  test::Sandbox box;
  std::filesystem::create_directories(box.path("root/Config"));
  std::filesystem::create_directories(box.path("sim"));
  KvSetServerRoot(box.path("root").c_str());
  bench::ModemsimProcess sim = StartSimulator(box.path("sim"), n);
  {
    Database db(GetModemsPath().c_str(), sizeof(ModemRecord), CompareModemIds);
    db.Open();
    for (const auto& [name, path] : sim.ports) {
      ModemRecord r;
      r.portName.Assign(path);
      r.usage = ModemPort::kUsageReceive;
      r.enabled = 1;
      r.portSpeed = 6;
      r.id = static_cast<int32_t>(db.NextSerial());
      db.Add(&r);
    }
    db.Close();
  }
  int ok = 0;
  SysLog log("unused.log", kSysLogMaxSize, &ok);
  g_SysLog = &log;
  const auto start = std::chrono::steady_clock::now();
  auto modems = std::make_unique<ModemSubsystem>(nullptr, &ok);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  int ready = 0;
  for (int i = 0; i < n; ++i)
    if (modems->GetPort(i) && modems->GetPort(i)->GetState() == PortState::Ready) ++ready;
  modems.reset();
  g_SysLog = nullptr;
  return ready == n ? seconds : -1;
}

// "vs one modem": the start-up with 128 modems over the start-up with one.
void BM_StartUp128Modems(benchmark::State& state) {
  double one = 0, many = 0;
  for (auto _ : state) {
    const double a = StartUp(1);
    const double b = StartUp(128);
    if (a < 0 || b < 0) {
      state.SkipWithError("a modem was not initialised");
      break;
    }
    one += a;
    many += b;
    state.SetIterationTime(b);
  }
  state.counters["one_modem_s"] = one / static_cast<double>(state.iterations());
  state.counters["vs one modem"] = many / one;
}
BENCHMARK(BM_StartUp128Modems)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
