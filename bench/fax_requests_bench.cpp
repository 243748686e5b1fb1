// Faxes sent to the queue (request 4000, a five-page fax of A4 text pages at
// fine resolution) and fetched from it (request 4010) per second, through a
// real korvohub in a sandbox, with 1 and 16 clients at once. Each run starts
// a fresh server on an empty queue and makes the same number of requests in
// all, so both client counts meet the same queue sizes: the submissions fill
// an empty queue, the fetches empty one filled beforehand with as many faxes
// delivered to the client's own LAN box. Every request is a connection of its
// own, without the client's closing pause. Queue.lst and the journal are
// written through to the disk of the temporary folder on every change.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/faxclient.h"
#include "common/fields.h"
#include "common/request_exchange.h"
#include "common/settings.h"
#include "common/tiff_writer.h"
#include "common/user_record.h"
#include "platform/username.h"
#include "tests/common/fax_pages.h"

extern char** environ;

namespace {

using namespace korvo;
namespace fs = std::filesystem;

constexpr int kRequests = 480;  // per run, over all clients
constexpr int kManyClients = 16;
constexpr int kPages = 5;
constexpr uint32_t kWidth = 1728, kLines = 2291;  // A4 at 196 lines per inch
constexpr const char* kServer = ".";

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string OwnLogin() {
  char name[64] = {};
  platform::GetUserName(name, sizeof name);
  return name;
}

// One sandbox for the process (the client's data folder is read once per
// process); a server root of its own for each run.
class Bench {
 public:
  static Bench& Get() {
    static Bench bench;
    return bench;
  }
  ~Bench() {
    Stop();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // A fresh korvohub on an empty server root where this login holds every right.
  void Start() {
    root_ = dir_ / ("root-" + std::to_string(++runs_));
    fs::create_directories(root_ / "Config");
    KvWriteRegStr("Server", "RootPath", root_.c_str());
    bool ok = false;
    UserDatabase users((root_ / "Config" / "RegUsers.dbs").string(), &ok);
    std::string text;
    EncodeFields(&text, {OwnLogin(), "", "63", "", "", "", "", ""}, 8);
    if (!ok || !users.AddUser(text)) throw std::runtime_error("registered users");

    // The console goes to a file: a pipe nobody reads would stall the server.
    const fs::path console = root_ / "console.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, console.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::string program = KORVO_HUB, option = "-debug";
    char* argv[] = {program.data(), option.data(), nullptr};
    const int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("korvohub did not start");
    for (int i = 0; ReadFile(console).find("Fax Server Daemon started.\n") == std::string::npos; ++i) {
      if (i == 6000 || waitpid(pid_, nullptr, WNOHANG) == pid_) throw std::runtime_error("korvohub start-up");
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  FaxHeader Header(const FaxSenderOrRecipient& to) const {
    FaxHeader header;
    header.sender = FaxSenderOrRecipient(OwnLogin(), 1, "", "", "", "");
    header.subject = "Price list";
    header.recipients.AddTail(to);
    header.sendTime = ScheduleTimeInfo(ScheduleTimeInfo::kAtChosenTime, static_cast<int32_t>(std::time(nullptr)));
    return header;
  }

  // Queues n faxes for this login's own box; their job ids.
  std::vector<int32_t> FaxesWaiting(int n) {
    FaxClient client;
    const FaxHeader header = Header(FaxSenderOrRecipient(OwnLogin(), 1, "", "", "", ""));
    for (int i = 0; i < n; ++i)
      if (client.SendFax(kServer, header, image_).status != 0) throw std::runtime_error("filling the queue");
    const std::string list = (dir_ / "list.txt").string();
    if (client.DownloadList(kServer, 5020, nullptr, list).status != 0) throw std::runtime_error("listing the queue");
    std::vector<int32_t> ids;
    std::istringstream lines(ReadFile(list));
    for (std::string line; std::getline(lines, line);) {
      std::vector<std::string> fields(15);
      DecodeFields(line, fields);
      ids.push_back(std::stoi(fields[1]));
    }
    fs::remove(list);
    if (ids.size() != static_cast<size_t>(n)) throw std::runtime_error("faxes waiting");
    return ids;
  }

  const std::string& image() const { return image_; }
  uint64_t imageBytes() const { return fs::file_size(image_); }
  fs::path data() const { return dir_ / "data"; }

 private:
  Bench() {
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/korvo-bench-XXXXXX";
    if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp");
    dir_ = templ;
    for (const char* d : {"run", "log", "data"}) fs::create_directories(dir_ / d);
    setenv("KORVO_MACHINE_HIVE", (dir_ / "machine.reg").c_str(), 1);
    setenv("KORVO_USER_HIVE", (dir_ / "user.reg").c_str(), 1);
    setenv("KORVO_PIPE_DIR", (dir_ / "run").c_str(), 1);
    setenv("KORVO_LOG_DIR", (dir_ / "log").c_str(), 1);
    setenv("KORVO_TRACE", (dir_ / "trace.log").c_str(), 1);
    unsetenv("NOTIFY_SOCKET");
    unsetenv("INVOCATION_ID");
    KvWriteRegDword("Server", "TcpIp", 0);
    KvWriteRegDword("Server", "Pipes", 1);
    KvWriteRegUserStr(nullptr, "DataPath", (dir_ / "data").c_str());
    RequestExchange::SetDisconnectPause(std::chrono::milliseconds(0));

    image_ = (dir_ / "fivepages.fax").string();
    TiffWriter writer;
    writer.Open(image_);
    for (int i = 0; i < kPages; ++i) {
      PageDescriptor page;
      page.length = kLines;
      const auto coded = test::EncodePage(test::TextPage(kWidth, kLines, 7 + static_cast<uint32_t>(i)), kWidth, kLines);
      writer.WritePage(page, coded.data(), static_cast<uint32_t>(coded.size()));
    }
    writer.Close();
  }

  fs::path dir_;
  fs::path root_;
  pid_t pid_ = -1;
  int runs_ = 0;
  std::string image_;
};

void StartEmpty(const benchmark::State&) { Bench::Get().Start(); }
void StopServer(const benchmark::State&) { Bench::Get().Stop(); }

void BM_SubmitFivePageFax(benchmark::State& state) {
  Bench& bench = Bench::Get();
  FaxClient client;
  const FaxHeader header = bench.Header(FaxSenderOrRecipient("555 0100", 0, "Ana", "Velmora", "", ""));
  for (auto _ : state) {
    const RequestResult r = client.SendFax(kServer, header, bench.image());
    if (r.status != 0) {
      state.SkipWithError(r.text.c_str());
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) state.counters["fax_kB"] = static_cast<double>(bench.imageBytes()) / 1024;
}

std::vector<int32_t> gWaiting;
std::atomic<size_t> gNextWaiting{0};

void StartWithFaxesWaiting(const benchmark::State&) {
  Bench::Get().Start();
  gWaiting = Bench::Get().FaxesWaiting(kRequests);
  gNextWaiting = 0;
}

void BM_FetchFivePageFax(benchmark::State& state) {
  Bench& bench = Bench::Get();
  FaxClient client;
  const std::string base = (bench.data() / ("fetched-" + std::to_string(state.thread_index()))).string();
  for (auto _ : state) {
    const size_t next = gNextWaiting++;
    const RequestResult r =
        next < gWaiting.size() ? client.GetFax(kServer, gWaiting[next], base + ".kvf", base + ".fax") : RequestResult(1);
    if (r.status != 0) {
      state.SkipWithError(r.text.c_str());
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

// The same requests in all for one client and for many.
BENCHMARK(BM_SubmitFivePageFax)->Setup(StartEmpty)->Teardown(StopServer)->Threads(1)->Iterations(kRequests)
    ->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SubmitFivePageFax)->Setup(StartEmpty)->Teardown(StopServer)->Threads(kManyClients)
    ->Iterations(kRequests / kManyClients)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FetchFivePageFax)->Setup(StartWithFaxesWaiting)->Teardown(StopServer)->Threads(1)->Iterations(kRequests)
    ->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FetchFivePageFax)->Setup(StartWithFaxesWaiting)->Teardown(StopServer)->Threads(kManyClients)
    ->Iterations(kRequests / kManyClients)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
