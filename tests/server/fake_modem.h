// A scripted modem on a pseudo-terminal, for tests of single command steps
// and waits: it answers each command line through a rule, and the test can
// push result lines, drop the line (DSR loss) and plug it back behind the
// same short port path.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace korvo::test {

class FakeModem {
 public:
  struct Behaviour {
    std::string classes = "0,1,2,2.0";  // the answer to AT+FCLASS=?
    bool silent = false;
    std::set<std::string> errors;  // commands answered ERROR
    std::vector<std::string> ringsBeforeClasses;  // lines sent before the class list
  };

  FakeModem() : FakeModem(Behaviour()) {}
  explicit FakeModem(Behaviour behaviour) : behaviour_(std::move(behaviour)) {
    char dir[] = "/tmp/kvmXXXXXX";
    dir_ = ::mkdtemp(dir);
    link_ = dir_ / "m";
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    Plug();
    thread_ = std::thread([this] { Run(); });
  }
  ~FakeModem() {
    stop_ = true;
    Poke();
    thread_.join();
    Unplug();
    ::close(wake_);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  std::string path() const { return link_.string(); }
  std::vector<std::string> commands() {
    std::lock_guard hold(mutex_);
    return commands_;
  }
  void ClearCommands() {
    std::lock_guard hold(mutex_);
    commands_.clear();
    raw_.clear();
  }
  // Every byte the computer wrote.
  std::string raw() {
    std::lock_guard hold(mutex_);
    return raw_;
  }
  void SetBehaviour(Behaviour behaviour) {
    std::lock_guard hold(mutex_);
    behaviour_ = std::move(behaviour);
  }
  // Raw bytes to the computer.
  void Send(const std::string& bytes) {
    std::lock_guard hold(mutex_);
    if (master_ >= 0) Write(bytes);
  }
  // The line goes away (DSR off); Plug brings a fresh one behind the same path.
  // The modem's thread closes the line itself: a line closed while that
  // thread polls it would stay open until the poll ends.
  void Unplug() {
    std::unique_lock hold(mutex_);
    if (master_ < 0) return;
    if (!thread_.joinable() || stop_) {
      CloseLine();
      return;
    }
    unplug_ = true;
    Poke();
    unplugged_.wait(hold, [&] { return !unplug_; });
  }
  void Plug() {
    std::lock_guard hold(mutex_);
    if (master_ >= 0) return;
    int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ::grantpt(fd);
    ::unlockpt(fd);
    char name[128];
    ::ptsname_r(fd, name, sizeof name);
    // Raw mode on the terminal before the port opens it, so nothing echoes.
    // Held open so the master never sees a hang-up between two openers.
    keep_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios t{};
    ::tcgetattr(keep_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(keep_, TCSANOW, &t);
    master_ = fd;
    std::error_code ec;
    std::filesystem::remove(link_, ec);
    std::filesystem::create_symlink(name, link_);
    Poke();
  }

 private:
  void CloseLine() {
    if (master_ >= 0) ::close(master_);
    if (keep_ >= 0) ::close(keep_);
    master_ = keep_ = -1;
    pending_.clear();
  }
  void Poke() {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wake_, &one, sizeof one);
  }
  void Write(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n > 0) done += static_cast<size_t>(n);
      else if (errno != EAGAIN) return;
      else ::usleep(1000);
    }
  }
  std::string Answer(const std::string& command) {
    if (behaviour_.silent) return {};
    if (behaviour_.errors.count(command)) return "\r\nERROR\r\n";
    if (command == "AT+FCLASS=?") {
      std::string out;
      for (const auto& line : behaviour_.ringsBeforeClasses) out += "\r\n" + line + "\r\n";
      return out + "\r\n" + behaviour_.classes + "\r\n\r\nOK\r\n";
    }
    if (command == "AT+FMI?" || command == "AT+FMFR?") return "\r\nKorvo\r\n\r\nOK\r\n";
    if (command.rfind("AT", 0) == 0) return "\r\nOK\r\n";
    return {};
  }
  void Run() {
    while (!stop_) {
      int fd;
      {
        std::lock_guard hold(mutex_);
        fd = master_;
      }
      pollfd p[2] = {{wake_, POLLIN, 0}, {fd, POLLIN, 0}};
      ::poll(p, fd >= 0 ? 2 : 1, 1000);
      if (p[0].revents & POLLIN) {
        uint64_t v;
        [[maybe_unused]] ssize_t n = ::read(wake_, &v, sizeof v);
      }
      std::lock_guard hold(mutex_);
      if (unplug_) {
        CloseLine();
        unplug_ = false;
        unplugged_.notify_all();
        continue;
      }
      if (master_ < 0 || master_ != fd || !(p[1].revents & POLLIN)) continue;
      char buf[512];
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n <= 0) continue;
      raw_.append(buf, static_cast<size_t>(n));
      for (ssize_t i = 0; i < n; ++i) {
        if (buf[i] != '\r') {
          pending_ += buf[i];
          continue;
        }
        commands_.push_back(pending_);
        Write(Answer(pending_));
        pending_.clear();
      }
    }
  }

  Behaviour behaviour_;
  std::filesystem::path dir_, link_;
  int master_ = -1;
  int keep_ = -1;
  int wake_ = -1;
  std::atomic<bool> stop_{false};
  bool unplug_ = false;
  std::condition_variable unplugged_;
  std::mutex mutex_;
  std::string pending_;
  std::vector<std::string> commands_;
  std::string raw_;
  std::thread thread_;
};

}  // namespace korvo::test
