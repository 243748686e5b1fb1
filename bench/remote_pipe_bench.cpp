// The server's pipe over SSH against the local socket, through a real
// korvohub: requests per second (2140, the version question, a connection
// each), the first request of a new SSH connection (handshake and all)
// against one on the shared connection, and a 16 MiB fax submitted (4000)
// and fetched (4010). The Paired benchmarks time a local and a remote
// request (or submission) in turn in every iteration, so a busy machine
// weighs on both alike: their counters are the remote request's extra time
// and the remote submission's rate as a share of the local one; beside them,
// the same 16 MiB through the shared SSH connection alone (ssh_share), the
// most the remote path could carry here.
// The "remote" server is a private sshd on 127.0.0.1 (so the figures are the
// cost of ssh, the relay and the bridge, not of a network), reached as a
// throwaway login with a plain shell, so that no login script of root's is
// timed. Needs root.
// Arguments: 0 local socket, 1 remote.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "common/faxclient.h"
#include "common/fields.h"
#include "common/request_exchange.h"
#include "common/settings.h"
#include "common/tiff_writer.h"
#include "common/user_record.h"
#include "platform/remote_pipe.h"
#include "platform/username.h"
#include "tests/server/ssh_server.h"

extern char** environ;

namespace {

using namespace korvo;
namespace fs = std::filesystem;

constexpr const char* kRemote = "korvo-remote";
constexpr uint64_t kFileBytes = 16u << 20;

std::string OwnLogin() {
  char name[64] = {};
  platform::GetUserName(name, sizeof name);
  return name;
}

class Bench {
 public:
  static Bench& Get() {
    static Bench bench;
    return bench;
  }
  ~Bench() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    ssh_.Stop();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  const char* Server(int64_t remote) const { return remote ? kRemote : "."; }
  // Ends the shared connection, so that the next request makes a new one.
  void DropConnection() {
    int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    pid_t pid = platform::StartProcessWithStdio(
        {"ssh", "-F", ssh_.configPath(), "-o", "ControlPath=" + platform::RemoteControlPath(), "-O", "exit", kRemote},
        null, null, null);
    close(null);
    int code;
    if (pid > 0) platform::WaitProcess(pid, code);
  }
  const std::string& image() const { return image_; }
  // 16 MiB through the shared SSH connection and nothing else: the image
  // to a remote `cat` (sent), or zeros from a remote `head` (fetched). No
  // relay, no server: what ssh itself carries on this machine.
  bool SshCopy(bool fetch) {
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    const int in = fetch ? null : open(image_.c_str(), O_RDONLY | O_CLOEXEC);
    const std::string command = fetch ? "head -c " + std::to_string(kFileBytes) + " /dev/zero" : "cat >/dev/null";
    const pid_t pid = platform::StartProcessWithStdio(
        {"ssh", "-F", ssh_.configPath(), "-o", "BatchMode=yes", "-o", "ControlMaster=auto", "-o",
         "ControlPath=" + platform::RemoteControlPath(), "-o", "ControlPersist=300", kRemote, command},
        in, null, null);
    if (in != null) close(in);
    close(null);
    int code = -1;
    return pid > 0 && platform::WaitProcess(pid, code) && code == 0;
  }
  // The id of the first fax in the user's own box (listed locally), or empty.
  std::string FirstOwnFax(const std::string& list) {
    FaxClient client;
    if (client.DownloadList(".", 5020, nullptr, list).status != 0) return {};
    std::ifstream in(list);
    std::string line;
    if (!std::getline(in, line)) return {};
    std::vector<std::string> fields(15);
    DecodeFields(line, fields);
    return fields[1];
  }
  std::string Temp(const std::string& name) const { return (dir_ / name).string(); }

 private:
  Bench() {
    if (!test::SshServer::Available()) throw std::runtime_error("needs root, sshd and ssh-keygen");
    std::string templ = "/tmp/korvo-bench-XXXXXX";
    if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp");
    dir_ = templ;
    fs::permissions(dir_, fs::perms(0755));
    for (const char* d : {"run", "log", "data", "runtime", "root/Config"}) fs::create_directories(dir_ / d);
    fs::permissions(dir_ / "runtime", fs::perms::owner_all);
    setenv("KORVO_MACHINE_HIVE", (dir_ / "machine.reg").c_str(), 1);
    setenv("KORVO_USER_HIVE", (dir_ / "user.reg").c_str(), 1);
    setenv("KORVO_PIPE_DIR", (dir_ / "run").c_str(), 1);
    setenv("KORVO_LOG_DIR", (dir_ / "log").c_str(), 1);
    setenv("KORVO_TRACE", (dir_ / "trace.log").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (dir_ / "runtime").c_str(), 1);
    unsetenv("NOTIFY_SOCKET");
    unsetenv("INVOCATION_ID");
    KvWriteRegStr("Server", "RootPath", (dir_ / "root").c_str());
    KvWriteRegDword("Server", "TcpIp", 0);
    KvWriteRegDword("Server", "Pipes", 1);
    KvWriteRegUserStr(nullptr, "DataPath", (dir_ / "data").c_str());
    RequestExchange::SetDisconnectPause(std::chrono::milliseconds(0));
    bool ok = false;
    UserDatabase users((dir_ / "root" / "Config" / "RegUsers.dbs").string(), &ok);
    std::string text;
    EncodeFields(&text, {OwnLogin(), "", "63", "", "", "", "", ""}, 8);
    if (!ok || !users.AddUser(text)) throw std::runtime_error("registered users");

    if (!login_.made()) throw std::runtime_error("no throwaway login");
    text.clear();
    EncodeFields(&text, {login_.name(), "", "63", "", "", "", "", ""}, 8);
    if (!users.AddUser(text)) throw std::runtime_error("registered users");
    std::string why;
    if (!ssh_.Start(dir_ / "ssh", {{kRemote, login_.name()}}, (dir_ / "run").string(), &why)) throw std::runtime_error(why);
    SetRemoteSshOptions(ssh_.sshOptions().c_str());
    SetRemoteRelayPath(KORVO_RELAY);

    const fs::path console = dir_ / "console.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, console.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::string program = KORVO_HUB, option = "-debug";
    char* argv[] = {program.data(), option.data(), nullptr};
    const int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("korvohub did not start");
    for (int i = 0;; ++i) {
      std::ifstream in(console);
      std::stringstream s;
      s << in.rdbuf();
      if (s.str().find("Fax Server Daemon started.\n") != std::string::npos) break;
      if (i == 6000 || waitpid(pid_, nullptr, WNOHANG) == pid_) throw std::runtime_error("korvohub start-up");
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // A fax file of five small pages, padded to 16 MiB.
    image_ = (dir_ / "big.fax").string();
    TiffWriter writer;
    writer.Open(image_);
    PageDescriptor page;
    page.length = 1;
    const uint8_t eol[] = {0x00, 0x80, 0xB2, 0x59, 0x01};
    for (int i = 0; i < 5; ++i) writer.WritePage(page, eol, sizeof eol);
    writer.Close();
    const uint64_t start = fs::file_size(image_);
    std::ofstream out(image_, std::ios::binary | std::ios::app);
    for (uint64_t i = start; i < kFileBytes; ++i) out.put(static_cast<char>(i * 131 % 251));
  }

  fs::path dir_;
  pid_t pid_ = -1;
  test::ThrowawayLogin login_;
  test::SshServer ssh_;
  std::string image_;
};

void BM_Request(benchmark::State& state) {
  Bench& bench = Bench::Get();
  const char* server = bench.Server(state.range(0));
  FaxClient client;
  uint32_t version = 0;
  client.GetServerVersion(server, version);  // the shared connection is up
  for (auto _ : state) {
    const RequestResult r = client.GetServerVersion(server, version);
    if (r.status != 0) {
      state.SkipWithError(r.text.c_str());
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Request)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Repetitions(5)->UseRealTime()->DisplayAggregatesOnly();

template <class F>
double Seconds(F&& f) {
  const auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_PairedRequest(benchmark::State& state) {
  Bench::Get();
  FaxClient client;
  uint32_t version = 0;
  client.GetServerVersion(kRemote, version);  // the relay is up
  double local = 0, remote = 0;
  for (auto _ : state) {
    RequestResult r;
    local += Seconds([&] { r = client.GetServerVersion(".", version); });
    if (r.status == 0) remote += Seconds([&] { r = client.GetServerVersion(kRemote, version); });
    if (r.status != 0) {
      state.SkipWithError(r.text.c_str());
      break;
    }
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["local_ms"] = 1000 * local / n;
  state.counters["remote_ms"] = 1000 * remote / n;
  state.counters["extra_ms"] = 1000 * (remote - local) / n;
}
BENCHMARK(BM_PairedRequest)->Unit(benchmark::kMillisecond)->Iterations(200)->Repetitions(7)->DisplayAggregatesOnly();

void BM_PairedSubmit16MiB(benchmark::State& state) {
  Bench& bench = Bench::Get();
  FaxClient client;
  FaxHeader header;
  header.sender = FaxSenderOrRecipient(OwnLogin(), 1, "", "", "", "");
  header.recipients.AddTail(FaxSenderOrRecipient(OwnLogin(), 1, "", "", "", ""));
  double local = 0, remote = 0, ssh = 0;
  for (auto _ : state) {
    RequestResult r;
    local += Seconds([&] { r = client.SendFax(".", header, bench.image()); });
    if (r.status == 0) remote += Seconds([&] { r = client.SendFax(kRemote, header, bench.image()); });
    if (r.status != 0) {
      state.SkipWithError(r.text.c_str());
      break;
    }
    bool copied = false;
    ssh += Seconds([&] { copied = bench.SshCopy(false); });
    if (!copied) {
      state.SkipWithError("ssh copy failed");
      break;
    }
  }
  const double mib = static_cast<double>(kFileBytes) / (1 << 20) * static_cast<double>(state.iterations());
  state.counters["local_MiB/s"] = mib / local;
  state.counters["remote_MiB/s"] = mib / remote;
  state.counters["remote_share"] = local / remote;
  state.counters["ssh_MiB/s"] = mib / ssh;
  state.counters["ssh_share"] = local / ssh;
}
BENCHMARK(BM_PairedSubmit16MiB)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(7)->DisplayAggregatesOnly();

// The first request over a connection of its own: SSH handshake,
// authentication and the shared connection's start.
void BM_FirstRemoteRequest(benchmark::State& state) {
  Bench& bench = Bench::Get();
  FaxClient client;
  uint32_t version = 0;
  for (auto _ : state) {
    state.PauseTiming();
    bench.DropConnection();
    state.ResumeTiming();
    const RequestResult r = client.GetServerVersion(kRemote, version);
    if (r.status != 0) {
      state.SkipWithError(r.text.c_str());
      break;
    }
  }
}
BENCHMARK(BM_FirstRemoteRequest)->Unit(benchmark::kMillisecond)->Iterations(20)->Repetitions(5)->DisplayAggregatesOnly();

void BM_Submit16MiB(benchmark::State& state) {
  Bench& bench = Bench::Get();
  const char* server = bench.Server(state.range(0));
  FaxClient client;
  FaxHeader header;
  header.sender = FaxSenderOrRecipient(OwnLogin(), 1, "", "", "", "");
  header.recipients.AddTail(FaxSenderOrRecipient(OwnLogin(), 1, "", "", "", ""));
  for (auto _ : state) {
    const RequestResult r = client.SendFax(server, header, bench.image());
    if (r.status != 0) {
      state.SkipWithError(r.text.c_str());
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileBytes));
}
BENCHMARK(BM_Submit16MiB)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(5)->UseRealTime()->DisplayAggregatesOnly();

}  // namespace

namespace {

// A 16 MiB fax fetched (4010), from those the submissions above left in the
// user's own box; the list that finds one is not timed.
void BM_Fetch16MiB(benchmark::State& state) {
  Bench& bench = Bench::Get();
  const char* server = bench.Server(state.range(0));
  FaxClient client;
  const std::string list = bench.Temp("list.txt"), header = bench.Temp("got.kvf"), image = bench.Temp("got.fax");
  for (auto _ : state) {
    state.PauseTiming();
    const std::string id = bench.FirstOwnFax(list);
    state.ResumeTiming();
    if (id.empty()) {
      state.SkipWithError("no fax left to fetch (run with the submissions)");
      break;
    }
    const RequestResult r = client.GetFax(server, std::stoi(id), header, image);
    if (r.status != 0) {
      state.SkipWithError(r.text.c_str());
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileBytes));
}
BENCHMARK(BM_Fetch16MiB)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(5)->UseRealTime()->DisplayAggregatesOnly();

}  // namespace

namespace {

// A local and a remote fetch in turn, from the faxes the submissions left.
void BM_PairedFetch16MiB(benchmark::State& state) {
  Bench& bench = Bench::Get();
  FaxClient client;
  const std::string list = bench.Temp("list.txt"), header = bench.Temp("got.kvf"), image = bench.Temp("got.fax");
  double seconds[3] = {0, 0, 0};
  for (auto _ : state) {
    bool copied = false;
    seconds[2] += Seconds([&] { copied = bench.SshCopy(true); });
    if (!copied) {
      state.SkipWithError("ssh copy failed");
      return;
    }
    for (int remote = 0; remote < 2; ++remote) {
      state.PauseTiming();
      const std::string id = bench.FirstOwnFax(list);
      state.ResumeTiming();
      if (id.empty()) {
        state.SkipWithError("no fax left to fetch (run with the submissions)");
        return;
      }
      RequestResult r;
      seconds[remote] += Seconds([&] { r = client.GetFax(bench.Server(remote), std::stoi(id), header, image); });
      if (r.status != 0) {
        state.SkipWithError(r.text.c_str());
        return;
      }
    }
  }
  const double mib = static_cast<double>(kFileBytes) / (1 << 20) * static_cast<double>(state.iterations());
  state.counters["local_MiB/s"] = mib / seconds[0];
  state.counters["remote_MiB/s"] = mib / seconds[1];
  state.counters["remote_share"] = seconds[0] / seconds[1];
  state.counters["ssh_MiB/s"] = mib / seconds[2];
  state.counters["ssh_share"] = seconds[0] / seconds[2];
}
BENCHMARK(BM_PairedFetch16MiB)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(7)->DisplayAggregatesOnly();

}  // namespace
