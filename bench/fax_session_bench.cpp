// A five-page fax sent from the server's send port to its receive port through
// the simulated exchange, page data paced at 14400 bit/s: the time from the
// scheduler's hand-over until both ports are back in service, against the time
// the coded pages need on the line (the physical limit), and the server's CPU
// time during the call (the exchange runs in a process of its own).
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "common/database.h"
#include "common/fax_header.h"
#include "common/job_state.h"
#include "common/settings.h"
#include "common/tiff_writer.h"
#include "server/fax_session.h"
#include "server/faxserver.h"
#include "server/modem_subsystem.h"
#include "server/queue.h"
#include "server/syslog.h"
#include "tests/common/fax_pages.h"
#include "tests/support/sandbox.h"

namespace {

using namespace korvo;
constexpr uint32_t kWidth = 1728, kLines = 400;  // a third of an A4 page at 98 lines per inch
constexpr int kPages = 5;
constexpr double kBitRate = 14400;

// The exchange program, stopped and reaped with the object.
class Simulator {
 public:
  explicit Simulator(const std::filesystem::path& dir) {
    int out[2];
    if (pipe(out) != 0) std::abort();
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      const std::string d = "dir " + dir.string();
      execl(KORVO_MODEMSIM, "modemsim", "--set", d.c_str(), "--set", "pace 1", "--set", "ring-ms 200", "--modem",
            "name=tx number=100", "--modem", "name=rx number=200", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    FILE* in = fdopen(out[0], "r");
    char line[512];
    while (in && std::fgets(line, sizeof line, in)) {
      std::string text(line);
      if (text.rfind("ready", 0) == 0) break;
      char name[64], path[400];
      if (std::sscanf(line, "port %63s %399s", name, path) == 2) (std::string(name) == "tx" ? tx : rx) = path;
    }
    if (in) std::fclose(in);
  }
  ~Simulator() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  std::string tx, rx;

 private:
  pid_t pid_ = -1;
};

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void BM_FivePageFaxAt14400(benchmark::State& state) {
  test::Sandbox box;
  std::filesystem::create_directories(box.path("root/Config"));
  std::filesystem::create_directories(box.path("root/Temp"));
  std::filesystem::create_directories(box.path("root/Queue"));
  KvSetServerRoot(box.path("root").c_str());
  SetStationIdentifier("KORVO BENCH");
  std::filesystem::create_directories(box.path("sim"));
  Simulator sim(box.path("sim"));

  int ok = 0;
  SysLog log("unused.log", kSysLogMaxSize, &ok);
  g_SysLog = &log;
  InstallFaxSessions();
  {
    Database db(GetModemsPath().c_str(), sizeof(ModemRecord), CompareModemIds);
    db.Open();
    for (auto [path, usage] : {std::pair{sim.tx, ModemPort::kUsageSend}, std::pair{sim.rx, ModemPort::kUsageReceive}}) {
      ModemRecord r;
      r.portName.Assign(path);
      r.usage = usage;
      r.enabled = 1;
      r.faxSpeed = 5;
      r.portSpeed = 6;  // 115200 bit/s between computer and modem
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

  // The five pages, each of its own text.
  const std::string image = box.path("root/Queue/FAX1.TMP").string();
  uint64_t codedBytes = 0;
  {
    TiffWriter writer;
    writer.Open(image);
    for (int i = 0; i < kPages; ++i) {
      PageDescriptor page;
      page.length = kLines;
      page.yResolution = 98;
      const auto coded = test::EncodePage(test::TextPage(kWidth, kLines, 40 + static_cast<uint32_t>(i)), kWidth, kLines);
      codedBytes += coded.size();
      writer.WritePage(page, coded.data(), static_cast<uint32_t>(coded.size()));
    }
    writer.Close();
  }

  double lastWall = 0, lastCpu = 0;
  for (auto _ : state) {
    std::filesystem::copy_file(image, box.path("root/Queue/FAX2.TMP"), std::filesystem::copy_options::overwrite_existing);
    FaxHeader h;
    h.sender = FaxSenderOrRecipient("alice", 1, "", "", "", "");
    h.priority = FaxHeader::kPriorityNormal;
    h.sendTime = ScheduleTimeInfo(0, static_cast<int32_t>(std::time(nullptr)) - 10);
    h.recipients.AddTail(FaxSenderOrRecipient("200", 0, "", "", "", ""));
    queue->InsertFax(box.path("root/Queue/FAX2.TMP").c_str(), h, Queue::kKindSubmitted, 0, JobState::Queued);
    const auto start = std::chrono::steady_clock::now();
    const double cpu = CpuSeconds();
    queue->SchedulerPass();
    // The call has started once the send port is taken; it is over when both
    // ports are back in service.
    const auto deadline = start + std::chrono::seconds(600);
    bool started = false;
    while (std::chrono::steady_clock::now() < deadline) {
      const bool idle = FaxSessionCounter::Count() == 0 && modems->GetPort(0)->GetState() == PortState::OnDemand &&
                        modems->GetPort(1)->GetState() == PortState::Ready;
      if (!idle) started = true;
      if (started && idle) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!started || std::chrono::steady_clock::now() >= deadline) {
      state.SkipWithError("the call did not start or end");
      break;
    }
    lastWall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    lastCpu = CpuSeconds() - cpu;
    state.SetIterationTime(lastWall);
  }
  const double line = static_cast<double>(codedBytes) * 8 / kBitRate;
  state.counters["line_s"] = line;
  state.counters["call_s"] = lastWall;
  state.counters["call_per_line"] = lastWall / line;
  state.counters["server_cpu_s"] = lastCpu;
  state.counters["coded_kB"] = static_cast<double>(codedBytes) / 1024;

  modems.reset();
  g_ModemSubsystem = nullptr;
  queue.reset();
  g_Queue = nullptr;
  g_SysLog = nullptr;
}
BENCHMARK(BM_FivePageFaxAt14400)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
