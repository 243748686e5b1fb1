// Requests per second through the whole server: a FaxServer in-process with
// its IPC server on the local socket, clients on 1, 8 and 64 threads sending
// request 2140 with the request exchange (each request its own connection,
// without the client's closing pause). Beside the rate: the server's threads
// at their peak (the process's threads less the client threads) and the
// process's resident memory.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include "common/faxclient.h"
#include "common/request_exchange.h"
#include "common/settings.h"
#include "server/faxserver.h"

namespace {

using namespace korvo;

// "Threads:" and "VmRSS:" (kB) of this process.
long ProcStatus(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string k = key;
  while (std::getline(in, line))
    if (line.compare(0, k.size(), k) == 0) return std::strtol(line.c_str() + k.size(), nullptr, 10);
  return 0;
}

class Server {
 public:
  static Server& Get() {
    static Server server;
    return server;
  }
  ~Server() {
    server_.reset();
    std::filesystem::remove_all(dir_);
  }

 private:
  Server() {
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/korvo-bench-XXXXXX";
    if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp");
    dir_ = templ;
    for (const char* dir : {"run", "log"}) std::filesystem::create_directories(dir_ + "/" + dir);
    setenv("KORVO_MACHINE_HIVE", (dir_ + "/machine.reg").c_str(), 1);
    setenv("KORVO_USER_HIVE", (dir_ + "/user.reg").c_str(), 1);
    setenv("KORVO_PIPE_DIR", (dir_ + "/run").c_str(), 1);
    setenv("KORVO_LOG_DIR", (dir_ + "/log").c_str(), 1);
    setenv("KORVO_TRACE", (dir_ + "/trace.log").c_str(), 1);
    unsetenv("NOTIFY_SOCKET");
    KvWriteRegStr("Server", "RootPath", (dir_ + "/root").c_str());
    KvWriteRegDword("Server", "TcpIp", 0);
    KvWriteRegDword("Server", "Pipes", 1);
    RequestExchange::SetDisconnectPause(std::chrono::milliseconds(0));
    int ok = 0;
    server_ = std::make_unique<FaxServer>(&ok);
    if (!ok) throw std::runtime_error("server start-up");
  }

  std::string dir_;
  std::unique_ptr<FaxServer> server_;
};

std::atomic<long> gPeakThreads{0};

void BM_GetServerVersion(benchmark::State& state) {
  Server::Get();
  if (state.thread_index() == 0) gPeakThreads = 0;
  FaxClient client;
  uint32_t version = 0;
  int64_t n = 0;
  for (auto _ : state) {
    if (client.GetServerVersion(".", version).status != 0) {
      state.SkipWithError("request failed");
      break;
    }
    if (state.thread_index() == 0 && (++n & 63) == 0) {
      long threads = ProcStatus("Threads:");
      long peak = gPeakThreads.load();
      while (threads > peak && !gPeakThreads.compare_exchange_weak(peak, threads)) {
      }
    }
  }
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) {
    // Less the client threads, of which the main thread is the first.
    state.counters["server_threads_peak"] = static_cast<double>(gPeakThreads.load() - state.threads());
    state.counters["rss_kB"] = static_cast<double>(ProcStatus("VmRSS:"));
  }
}
BENCHMARK(BM_GetServerVersion)->Threads(1)->Threads(8)->Threads(64)->UseRealTime()->MinTime(2.0);

}  // namespace
