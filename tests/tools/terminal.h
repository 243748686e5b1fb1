// The computer's end of a simulated modem: the port opened the way fax software
// opens a serial line (raw, no flow control in the kernel), with line and byte
// reads that give up after a time-out instead of hanging a test.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace korvo::test {

class Terminal {
 public:
  static constexpr char kDle = 0x10, kEtx = 0x03, kDc2 = 0x12, kXon = 0x11, kXoff = 0x13;

  explicit Terminal(const std::filesystem::path& port) {
    fd_ = ::open(port.c_str(), O_RDWR | O_NOCTTY);
    if (fd_ < 0) throw std::runtime_error("cannot open " + port.string());
    termios t{};
    tcgetattr(fd_, &t);
    cfmakeraw(&t);
    tcsetattr(fd_, TCSANOW, &t);
  }
  ~Terminal() {
    if (fd_ >= 0) ::close(fd_);
  }
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  void write(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw std::runtime_error("write to the port failed");
      done += static_cast<std::size_t>(n);
    }
  }
  void command(const std::string& text) { write(text + "\r"); }

  // Next byte, or -1 after the time-out (or when the port is gone).
  int byte(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    if (pos_ < buf_.size()) return static_cast<unsigned char>(buf_[pos_++]);
    buf_.clear();
    pos_ = 0;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0 || !(p.revents & POLLIN)) return -1;
    char tmp[4096];
    ssize_t n = ::read(fd_, tmp, sizeof tmp);
    if (n <= 0) return -1;
    buf_.assign(tmp, static_cast<std::size_t>(n));
    return static_cast<unsigned char>(buf_[pos_++]);
  }

  // Next non-empty line without CR and LF (XON and XOFF skipped); "<timeout>".
  std::string line(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    std::string l;
    for (;;) {
      int b = byte(timeout);
      if (b < 0) return "<timeout>";
      if (b == kXon || b == kXoff) continue;
      if (b == '\r' || b == '\n') {
        if (l.empty()) continue;
        // The LF of CR LF, when it came with the line, so that data after it starts clean.
        if (b == '\r' && pos_ < buf_.size() && buf_[pos_] == '\n') ++pos_;
        return l;
      }
      l += static_cast<char>(b);
    }
  }

  // Lines up to and including the first one equal to `last`.
  std::vector<std::string> until(const std::string& last) {
    std::vector<std::string> lines;
    for (;;) {
      lines.push_back(line());
      if (lines.back() == last || lines.back() == "<timeout>") return lines;
    }
  }

  // A command and its response lines up to the final result code.
  std::vector<std::string> ask(const std::string& text) {
    command(text);
    std::vector<std::string> lines;
    for (;;) {
      lines.push_back(line());
      const auto& l = lines.back();
      if (l == "OK" || l == "ERROR" || l == "NO CARRIER" || l == "BUSY" || l == "CONNECT" || l == "<timeout>")
        return lines;
    }
  }

  // Page data up to DLE ETX, DLE doubling removed; "<timeout>" appended on a time-out.
  std::string page() {
    std::string data;
    for (;;) {
      int b = byte();
      if (b < 0) return data + "<timeout>";
      if (b != kDle) {
        data += static_cast<char>(b);
        continue;
      }
      int c = byte();
      if (c == kEtx) return data;
      if (c == kDle) data += kDle;
      if (c < 0) return data + "<timeout>";
    }
  }

  // Whether a byte is waiting right now.
  bool pending() {
    if (pos_ < buf_.size()) return true;
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
  }

  // What reading reports once the modem is gone: hang-up, or an error.
  bool hungUp() {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 10000) <= 0) return false;
    if (p.revents & (POLLHUP | POLLERR)) return true;
    char c;
    return ::read(fd_, &c, 1) <= 0;
  }

  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  std::string buf_;
  std::size_t pos_ = 0;
};

// Page data as a modem wants it from the computer: DLE doubled.
inline std::string Stuff(const std::string& data) {
  std::string out;
  for (char c : data) {
    if (c == Terminal::kDle) out += Terminal::kDle;
    out += c;
  }
  return out;
}

}  // namespace korvo::test
