// Round trips and file transfer through the message layer, each beside the
// same traffic in plain socket writes of the same sizes (the machine's limit).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "common/request_exchange.h"
#include "common/wire.h"

namespace {

using namespace korvo;

constexpr size_t kFileSize = 16 << 20;
constexpr uint32_t kTagList = 7000;     // small request, small reply
constexpr uint32_t kTagUpload = 4000;   // a file from the client
constexpr uint32_t kTagPlainFile = 12;  // plain server only: file blocks follow, into dst

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(what);
}

// A message-layer server and a plain-socket server, each on its own socket in
// a temporary pipe folder, for the whole run.
class Bench {
 public:
  static Bench& Get() {
    static Bench bench;
    return bench;
  }

  std::string dir, src, dst, plainPath;

  // Each transfer is received into a new file, as the server's are (its
  // temporary files are new and empty): the old one goes between the timed
  // parts, so that freeing its pages is not timed as the transfer's.
  void RemoveReceived() { std::filesystem::remove(dst); }

  ~Bench() {
    stop_ = true;
    listener_.Interrupt();
    link_.join();
    shutdown(plainListen_, SHUT_RDWR);
    plain_.join();
    close(plainListen_);
    listener_.Close();
    std::filesystem::remove_all(dir);
  }

 private:
  Bench() {
    // Files live in memory (tmpfs) where there is one, so the transfer
    // measures the message layer rather than the disk; TMPDIR overrides.
    const char* tmp = std::getenv("TMPDIR");
    std::string base = tmp && *tmp ? tmp : std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
    std::string templ = base + "/korvo-bench-XXXXXX";
    Check(mkdtemp(templ.data()), "mkdtemp");
    dir = templ;
    setenv("KORVO_PIPE_DIR", dir.c_str(), 1);
    src = dir + "/src";
    dst = dir + "/dst";
    std::string data(kFileSize, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 2654435761u >> 24);
    std::ofstream(src, std::ios::binary) << data;
    RequestExchange::SetDisconnectPause(std::chrono::milliseconds(0));
    Check(listener_.Listen(ServerPipe::kRuntimeClass, &stop_), "listen");
    link_ = std::thread([this] { LinkLoop(); });

    plainPath = dir + "/plain";
    plainListen_ = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, plainPath.c_str());
    Check(bind(plainListen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0, "bind");
    Check(listen(plainListen_, 16) == 0, "listen");
    plain_ = std::thread([this] { PlainLoop(); });
  }

  void LinkLoop() {
    while (!stop_) {
      auto channel = std::make_unique<ServerPipe>();
      if (!listener_.WaitForClient() || !listener_.HandOver(*channel)) continue;
      ServerMessageLink session(std::move(channel));
      ServerHandshake handshake;
      try {
        ReceivedMessage m;
        while (session.Receive(&m) == 0) {
          if (handshake.Handle(session, m)) continue;
          if (m.tag == kTagList) {
            session.SendText(kTagOk, "ok");
          } else if (m.tag == kTagUpload) {
            session.SendData(kTagOk, nullptr, 0);
            session.ReceiveFile(dst.c_str());
          }
        }
      } catch (const ClientServerExchangeException&) {
      }
    }
  }

  // The same messages as the link's, answered by plain reads and writes.
  void PlainLoop() {
    static char buf[8192];
    for (;;) {
      int c = accept(plainListen_, nullptr, nullptr);
      if (c < 0) return;
      for (;;) {
        ssize_t n = recv(c, buf, 12, 0);
        if (n <= 0) break;
        uint32_t tag, length;
        std::memcpy(&tag, buf, 4);
        std::memcpy(&length, buf + 8, 4);
        if (tag == kTagData) {
          for (uint32_t got = 0; got < length; got += static_cast<uint32_t>(n))
            if ((n = recv(c, buf, 4096, 0)) <= 0) break;
          send(c, buf, 12, MSG_NOSIGNAL);
          continue;
        }
        if (tag == kTagPlainFile) {
          // As ReceiveFile does it: a new file, blocks gathered into batches.
          static char batch[16 * 4096];
          int out = open(dst.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
          uint32_t got = 0;
          while (got < length) {
            uint32_t filled = 0;
            while (filled < sizeof batch && got + filled < length) {
              if ((n = recv(c, batch + filled, 4096, 0)) <= 0) break;
              filled += static_cast<uint32_t>(n);
            }
            if (write(out, batch, filled) != static_cast<ssize_t>(filled) || n <= 0) break;
            got += filled;
          }
          close(out);
          send(c, buf, 12, MSG_NOSIGNAL);
          continue;
        }
        if (length) recv(c, buf, length, 0);
        if (tag == kTagGetServerVersion) {
          send(c, buf, 12, MSG_NOSIGNAL);
          send(c, buf, 4, MSG_NOSIGNAL);
        } else if (tag == kTagList) {
          send(c, buf, 12, MSG_NOSIGNAL);
          send(c, buf, 3, MSG_NOSIGNAL);
        }
      }
      close(c);
    }
  }

  std::atomic<bool> stop_{false};
  ServerMessageLink listener_;
  std::thread link_;
  int plainListen_ = -1;
  std::thread plain_;
};

int PlainConnect() {
  int s = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, Bench::Get().plainPath.c_str());
  Check(connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0, "connect");
  return s;
}

void PlainMessage(int s, uint32_t tag, uint32_t length) {
  char h[12] = {};
  std::memcpy(h, &tag, 4);
  std::memcpy(h + 8, &length, 4);
  send(s, h, 12, MSG_NOSIGNAL);
  if (length) send(s, "payload-bytes", length, MSG_NOSIGNAL);
}

void PlainReply(int s, uint32_t length) {
  char buf[16];
  recv(s, buf, 12, 0);
  if (length) recv(s, buf, length, 0);
}

// One request and its reply on an open connection.
void BM_RoundTrip_MessageLink(benchmark::State& state) {
  Bench::Get();
  ClientMessageLink link;
  Check(link.Open("."), "open");
  link.SendText(kTagIntroduce, "bench");
  link.SendData(kTagReportClientVersion, "\x1e\x01\0\0", 4);
  ReceivedMessage m;
  for (auto _ : state) {
    link.SendText(kTagList, "0");
    if (link.Receive(&m) != 0) state.SkipWithError("receive");
  }
}
BENCHMARK(BM_RoundTrip_MessageLink)->UseRealTime();

void BM_RoundTrip_PlainSocket(benchmark::State& state) {
  int s = PlainConnect();
  for (auto _ : state) {
    PlainMessage(s, kTagList, 2);
    PlainReply(s, 3);
  }
  close(s);
}
BENCHMARK(BM_RoundTrip_PlainSocket)->UseRealTime();

// A whole request: connect, handshake, request, reply, close (without the
// 100 ms pause before closing, which is a wait, not work).
void BM_Request_Exchange(benchmark::State& state) {
  Bench::Get();
  for (auto _ : state) {
    RequestExchange exchange("bench");
    ReceivedMessage reply;
    if (exchange.Run(".", kTagList, "0", &reply).status != 0) state.SkipWithError("request");
  }
}
BENCHMARK(BM_Request_Exchange)->UseRealTime();

void BM_Request_PlainSocket(benchmark::State& state) {
  Bench::Get();
  for (auto _ : state) {
    int s = PlainConnect();
    PlainMessage(s, kTagIntroduce, 6);
    PlainMessage(s, kTagGetServerVersion, 0);
    PlainReply(s, 4);
    PlainMessage(s, kTagReportClientVersion, 4);
    PlainMessage(s, kTagList, 2);
    PlainReply(s, 3);
    close(s);
  }
}
BENCHMARK(BM_Request_PlainSocket)->UseRealTime();

// A 16 MiB file from disk to disk through SendFile and ReceiveFile.
void BM_FileTransfer_MessageLink(benchmark::State& state) {
  Bench& b = Bench::Get();
  ClientMessageLink link;
  Check(link.Open("."), "open");
  link.SendText(kTagIntroduce, "bench");
  link.SendData(kTagReportClientVersion, "\x1e\x01\0\0", 4);
  ReceivedMessage m;
  for (auto _ : state) {
    link.SendText(kTagUpload, nullptr);
    if (link.Receive(&m) != 0 || link.SendFile(b.src.c_str()) != 0) state.SkipWithError("transfer");
    state.PauseTiming();
    b.RemoveReceived();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFileSize);
}
BENCHMARK(BM_FileTransfer_MessageLink)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same header, 4096-byte writes and answer, memory to memory: the
// socket's own limit.
void BM_FileTransfer_PlainSocket(benchmark::State& state) {
  int s = PlainConnect();
  static char block[4096];
  for (auto _ : state) {
    PlainMessage(s, kTagData, kFileSize);
    for (size_t sent = 0; sent < kFileSize; sent += sizeof block) send(s, block, sizeof block, MSG_NOSIGNAL);
    PlainReply(s, 0);
  }
  close(s);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFileSize);
}
BENCHMARK(BM_FileTransfer_PlainSocket)->Unit(benchmark::kMillisecond)->UseRealTime();

// The message layer's upload and the plain memory-to-memory copy in turn,
// every iteration: "vs socket copy" is the copy's time over the upload's
// (1 is as fast as the socket itself), which load on the machine affects
// alike. The iteration time is the upload's.
void BM_FileTransferVsSocketCopy(benchmark::State& state) {
  Bench& b = Bench::Get();
  ClientMessageLink link;
  Check(link.Open("."), "open");
  link.SendText(kTagIntroduce, "bench");
  link.SendData(kTagReportClientVersion, "\x1e\x01\0\0", 4);
  int s = PlainConnect();
  static char block[4096];
  ReceivedMessage m;
  using Clock = std::chrono::steady_clock;
  Clock::duration upload{}, copy{};
  for (auto _ : state) {
    const auto t0 = Clock::now();
    link.SendText(kTagUpload, nullptr);
    if (link.Receive(&m) != 0 || link.SendFile(b.src.c_str()) != 0) state.SkipWithError("transfer");
    const auto t1 = Clock::now();
    PlainMessage(s, kTagData, kFileSize);
    for (size_t sent = 0; sent < kFileSize; sent += sizeof block) send(s, block, sizeof block, MSG_NOSIGNAL);
    PlainReply(s, 0);
    const auto t2 = Clock::now();
    b.RemoveReceived();
    upload += t1 - t0;
    copy += t2 - t1;
    state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
  }
  close(s);
  state.counters["vs socket copy"] = std::chrono::duration<double>(copy) / std::chrono::duration<double>(upload);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFileSize);
}
BENCHMARK(BM_FileTransferVsSocketCopy)->Unit(benchmark::kMillisecond)->UseManualTime();

// The same file to file, with plain reads, socket writes and file writes of
// the same sizes: the best the transfer itself could do.
void BM_FileTransfer_PlainSocketFiles(benchmark::State& state) {
  Bench& b = Bench::Get();
  int s = PlainConnect();
  static char batch[16 * 4096];
  for (auto _ : state) {
    int in = open(b.src.c_str(), O_RDONLY | O_CLOEXEC);
    PlainMessage(s, kTagPlainFile, kFileSize);
    for (size_t sent = 0; sent < kFileSize; sent += sizeof batch) {
      if (read(in, batch, sizeof batch) != sizeof batch) state.SkipWithError("read");
      for (size_t i = 0; i < sizeof batch; i += 4096) send(s, batch + i, 4096, MSG_NOSIGNAL);
    }
    close(in);
    PlainReply(s, 0);
    state.PauseTiming();
    b.RemoveReceived();
    state.ResumeTiming();
  }
  close(s);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFileSize);
}
BENCHMARK(BM_FileTransfer_PlainSocketFiles)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
