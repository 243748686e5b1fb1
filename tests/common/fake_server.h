// A small stand-in for the fax server over the real server socket, for the
// client tests: it speaks the server side of the handshake (2000, 2140, 2010)
// in the wire format, records each request and answers it as the test's
// handler says. It works on raw socket calls so that it can also send what a
// sound server never would.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace korvo::test {

struct WireMessage {
  uint32_t tag = 0;
  uint32_t length = 0;  // the value of an odd tag
  std::string payload;
};

// One accepted connection, as the handler sees it.
class FakeSession {
 public:
  explicit FakeSession(int fd) : fd_(fd) {}

  bool Send(uint32_t tag, const std::string& payload, uint32_t length) {
    uint8_t h[12] = {};
    std::memcpy(h, &tag, 4);
    std::memcpy(h + 8, &length, 4);
    uint8_t check = 0x35;
    for (uint8_t b : h) check ^= b;
    h[5] = check;
    if (::send(fd_, h, 12, MSG_NOSIGNAL) != 12) return false;
    return payload.empty() || ::send(fd_, payload.data(), payload.size(), MSG_NOSIGNAL) == ssize_t(payload.size());
  }
  bool Send(uint32_t tag, const std::string& payload = "") { return Send(tag, payload, uint32_t(payload.size())); }
  bool SendText(uint32_t tag, const std::string& text) { return Send(tag, text + std::string(1, '\0')); }
  bool SendLong(uint32_t tag, uint32_t value) { return Send(tag, std::string(reinterpret_cast<char*>(&value), 4)); }
  bool SendError(uint32_t code, const std::string& text) {
    return SendText(2, std::to_string(int32_t(code)) + "\x1B" + text + "\x1B");
  }

  bool Receive(WireMessage& m) {
    uint8_t h[12];
    if (::recv(fd_, h, 12, 0) != 12) return false;
    std::memcpy(&m.tag, h, 4);
    std::memcpy(&m.length, h + 8, 4);
    m.payload.clear();
    // An odd tag carries a value, and a file header (10) its size: no payload follows.
    if (m.tag & 1 || m.tag == 10 || m.length == 0) return true;
    m.payload.resize(m.length);
    return ::recv(fd_, m.payload.data(), m.length, 0) == ssize_t(m.length);
  }

  // A file as the message layer sends it: header 10 with the size, blocks of
  // 4096 bytes, then the receiver's bare answer, whose tag is returned.
  int SendFile(const std::string& data) {
    if (!Send(10, "", uint32_t(data.size()))) return -1;
    for (size_t at = 0; at < data.size(); at += 4096) {
      size_t n = std::min<size_t>(4096, data.size() - at);
      if (::send(fd_, data.data() + at, n, MSG_NOSIGNAL) != ssize_t(n)) return -1;
    }
    WireMessage answer;
    return Receive(answer) ? int(answer.tag) : -1;
  }
  // Receives a file and answers (0, 0); false when none came.
  bool ReceiveFile(std::string& data) {
    WireMessage h;
    if (!Receive(h) || h.tag != 10) return false;
    data.clear();
    while (data.size() < h.length) {
      char block[4096];
      ssize_t n = ::recv(fd_, block, sizeof block, 0);
      if (n <= 0) return false;
      data.append(block, size_t(n));
    }
    return Send(0);
  }

 private:
  int fd_;
};

class FakeServer {
 public:
  struct Request {
    std::string user;     // from 2000
    WireMessage message;  // the request after the handshake
    std::vector<std::string> notes;  // what the handler recorded
  };
  // Answers one request after the handshake.
  using Handler = std::function<void(FakeSession&, Request&)>;

  FakeServer(const std::string& socketPath, Handler handler, uint32_t version = 0x011E)
      : path_(socketPath), handler_(std::move(handler)), version_(version) {
    fd_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path_.c_str(), sizeof a.sun_path - 1);
    ::unlink(path_.c_str());
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 16) != 0) {
      ::close(fd_);
      fd_ = -1;
      return;
    }
    thread_ = std::thread([this] { Loop(); });
  }
  ~FakeServer() {
    stop_ = true;
    if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
    ::unlink(path_.c_str());
  }
  bool ok() const { return fd_ >= 0; }

  // The requests so far, once every accepted connection has been served.
  std::vector<Request> requests() {
    std::unique_lock<std::mutex> g(mutex_);
    idle_.wait_for(g, std::chrono::seconds(30), [this] { return served_ == connections_; });
    return requests_;
  }
  int connections() {
    std::lock_guard<std::mutex> g(mutex_);
    return connections_;
  }

 private:
  void Loop() {
    while (!stop_) {
      int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) break;
      {
        std::lock_guard<std::mutex> g(mutex_);
        ++connections_;
      }
      Request r;
      bool complete = Serve(c, r);
      ::close(c);
      std::lock_guard<std::mutex> g(mutex_);
      if (complete) requests_.push_back(r);
      ++served_;
      idle_.notify_all();
    }
  }
  bool Serve(int c, Request& r) {
    FakeSession s(c);
    WireMessage m;
    if (!s.Receive(m) || m.tag != 2000) return false;
    r.user = m.payload.empty() ? "" : std::string(m.payload.c_str());
    if (!s.Receive(m) || m.tag != 2140) return false;
    s.SendLong(0, version_);
    if (!s.Receive(m) || m.tag != 2010) return false;
    if (!s.Receive(r.message)) return false;
    handler_(s, r);
    return true;
  }

  std::string path_;
  Handler handler_;
  uint32_t version_;
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  int connections_ = 0;
  int served_ = 0;
  std::condition_variable idle_;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<Request> requests_;
};

}  // namespace korvo::test
