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

// The exchange program with n modems, stopped and reaped with the object.
class Simulator {
 public:
  Simulator(const std::filesystem::path& dir, int n) {
    int out[2];
    if (pipe(out) != 0) std::abort();
    std::vector<std::string> args = {"modemsim", "--set", "dir " + dir.string()};
    for (int i = 0; i < n; ++i) {
      args.push_back("--modem");
      args.push_back("name=m" + std::to_string(i) + " number=" + std::to_string(1000 + i));
    }
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(KORVO_MODEMSIM, argv.data());
      _exit(127);
    }
    close(out[1]);
    FILE* in = fdopen(out[0], "r");
    char line[512];
    while (in && std::fgets(line, sizeof line, in)) {
      if (std::string(line).rfind("ready", 0) == 0) break;
      char name[64], path[400];
      if (std::sscanf(line, "port %63s %399s", name, path) == 2) ports.push_back(path);
    }
    if (in) std::fclose(in);
  }
  ~Simulator() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  std::vector<std::string> ports;

 private:
  pid_t pid_ = -1;
};

// Seconds until a modem subsystem over n simulated receive modems is up.
double StartUp(int n) {
  test::Sandbox box;
  std::filesystem::create_directories(box.path("root/Config"));
  std::filesystem::create_directories(box.path("sim"));
  KvSetServerRoot(box.path("root").c_str());
  Simulator sim(box.path("sim"), n);
  {
    Database db(GetModemsPath().c_str(), sizeof(ModemRecord), CompareModemIds);
    db.Open();
    for (const auto& path : sim.ports) {
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
