// Stands in for systemd: the notification socket of a service, which a
// korvohub started without options reports to as it would to systemd.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/sandbox.h"

namespace korvo::test {

class Notify {
 public:
  static constexpr int kPatienceMs = 60000;  // only ever reached when something hangs

  explicit Notify(Sandbox& sandbox) {
    path_ = sandbox.path("notify").string();
    unlink(path_.c_str());
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path_.c_str());
    bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    sandbox.setEnv("NOTIFY_SOCKET", path_);
  }
  ~Notify() {
    close(fd_);
    unlink(path_.c_str());
  }
  Notify(const Notify&) = delete;
  Notify& operator=(const Notify&) = delete;

  // Messages until one holds the text; all of them seen so far.
  bool WaitFor(const std::string& text) {
    for (;;) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, kPatienceMs) <= 0) return false;
      char buf[1024];
      ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) return false;
      std::string m(buf, static_cast<size_t>(n));
      seen_.push_back(m);
      if (m.find(text) != std::string::npos) return true;
    }
  }
  const std::vector<std::string>& seen() const { return seen_; }

 private:
  std::string path_;
  int fd_ = -1;
  std::vector<std::string> seen_;
};

}  // namespace korvo::test
