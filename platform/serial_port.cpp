#include "platform/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/lasterror.h"

namespace korvo::platform {

namespace {

void Pause(uint32_t ms) {
  if (ms) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

speed_t SpeedCode(int rate) {
  switch (rate) {
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B19200;
  }
}

// Erases every line "RING" of the text; true when there was one.
bool TakeRingLines(std::string& text) {
  bool found = false;
  size_t pos = 0;
  while ((pos = text.find("RING", pos)) != std::string::npos) {
    const bool lineStart = pos == 0 || text[pos - 1] == '\r' || text[pos - 1] == '\n';
    const size_t end = pos + 4;
    const bool lineEnd = end == text.size() || text[end] == '\r' || text[end] == '\n';
    if (lineStart && lineEnd) {
      text.erase(pos, 4);
      found = true;
    } else {
      pos = end;
    }
  }
  return found;
}

}  // namespace

SerialPort::SerialPort() : cancelFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

SerialPort::~SerialPort() {
  Close();
  if (cancelFd_ >= 0) ::close(cancelFd_);
}

void SerialPort::Cancel() {
  if (cancelFd_ < 0) return;
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(cancelFd_, &one, sizeof one);
}

void SerialPort::ResetCancel() {
  uint64_t count;
  if (cancelFd_ >= 0) [[maybe_unused]] ssize_t n = ::read(cancelFd_, &count, sizeof count);
}

std::string SerialPort::DevicePath(const std::string& portName) {
  if (!portName.empty() && portName[0] == '/') return portName;
  if (portName.size() > 3 && portName.compare(0, 3, "COM") == 0 &&
      portName.find_first_not_of("0123456789", 3) == std::string::npos) {
    const long n = std::strtol(portName.c_str() + 3, nullptr, 10);
    if (n >= 1) return "/dev/ttyS" + std::to_string(n - 1);
  }
  return "/dev/" + portName;
}

int SerialPort::LineRate(int baudRate) {
  switch (baudRate) {
    case 2400: case 4800: case 9600: case 19200: case 38400: case 57600: case 115200:
      return baudRate;
    default:
      return kDefaultBaudRate;
  }
}

void SerialPort::Fail(SetupStep step, uint32_t error) {
  failedStep_ = step;
  lastError_ = error;
  SetLastError(error);
}

bool SerialPort::Open(const char* portName, int baudRate, int flowControl, uint32_t inputSize,
                      uint32_t outputSize) {
  Close();
  failedStep_ = SetupStep::kNone;
  const std::string path = DevicePath(portName ? portName : "");
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    Fail(SetupStep::kOpen, errno);
    return false;
  }
  // No sharing: a second opener within Korvo finds the line taken.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const uint32_t error = errno == EWOULDBLOCK ? EBUSY : errno;
    ::close(fd);
    Fail(SetupStep::kOpen, error);
    return false;
  }
  fd_ = fd;
  in_.clear();

  // The kernel sizes the queues itself; the sizes are kept as configured.
  inputSize_ = inputSize ? inputSize : kDefaultBufferSize;
  outputSize_ = outputSize ? outputSize : kDefaultBufferSize;

  // Time-outs are applied by every read and write (poll), nothing to set here.

  termios t{};
  if (::tcgetattr(fd_, &t) != 0) {
    Fail(SetupStep::kGetState, errno);
    Close();
    return false;
  }
  int lines = 0;
  pty_ = ::ioctl(fd_, TIOCMGET, &lines) != 0;
  baudRate_ = LineRate(baudRate);
  flow_ = flowControl == kSoftwareFlow ? kSoftwareFlow : kHardwareFlow;

  // Binary, 8 data bits, no parity, one stop bit, no echo or line editing;
  // DTR drops when the line closes so the modem hangs up.
  ::cfmakeraw(&t);
  t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
  t.c_cflag |= CS8 | CREAD | CLOCAL | HUPCL;
  t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | ISTRIP | IGNBRK | BRKINT | PARMRK | IGNPAR);
  if (flow_ == kHardwareFlow)
    t.c_cflag |= CRTSCTS;
  else
    t.c_iflag |= IXON | IXOFF;
  t.c_cc[VSTART] = kXon;
  t.c_cc[VSTOP] = kXoff;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  ::cfsetispeed(&t, SpeedCode(baudRate_));
  ::cfsetospeed(&t, SpeedCode(baudRate_));
  if (::tcsetattr(fd_, TCSANOW, &t) != 0) {
    Fail(SetupStep::kLine, errno);
    Close();
    return false;
  }
  if (!pty_) {
    const int raise = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(fd_, TIOCMBIS, &raise);
  }
  if (!Purge()) {
    Fail(SetupStep::kPurge, GetLastError());
    Close();
    return false;
  }
  lastError_ = 0;
  return true;
}

void SerialPort::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  in_.clear();
}

bool SerialPort::WaitFor(short events, uint32_t ms) {
  pollfd p[2] = {{fd_, events, 0}, {cancelFd_, POLLIN, 0}};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    const int r = ::poll(p, cancelFd_ >= 0 ? 2 : 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
    if (r > 0) {
      if (p[1].revents & POLLIN) {
        SetLastError(ECANCELED);
        return false;
      }
      if (p[0].revents & events) return true;
      SetLastError(EIO);  // hung up or failed
      return false;
    }
    if (r == 0) {
      SetLastError(kErrorTimeout);
      return false;
    }
    if (errno != EINTR) {
      SetLastErrorFromErrno();
      return false;
    }
  }
}

bool SerialPort::Fill(uint32_t ms) {
  if (fd_ < 0) {
    SetLastError(EBADF);
    return false;
  }
  if (!WaitFor(POLLIN, ms)) return false;
  char chunk[4096];
  const ssize_t n = ::read(fd_, chunk, sizeof chunk);
  if (n > 0) {
    in_.append(chunk, static_cast<size_t>(n));
    return true;
  }
  if (n == 0) SetLastError(EIO);  // the other side went away
  else SetLastErrorFromErrno();
  return false;
}

bool SerialPort::WriteByte(uint8_t byte) {
  if (fd_ < 0) {
    SetLastError(EBADF);
    return false;
  }
  if (!WaitFor(POLLOUT, timing_.writeTimeoutMs)) return false;
  const ssize_t n = ::write(fd_, &byte, 1);
  if (n != 1) {
    if (n < 0) SetLastErrorFromErrno();
    return false;
  }
  return true;
}

bool SerialPort::ReadByte(uint8_t& byte) {
  if (in_.empty() && !Fill(timing_.readTimeoutMs)) return false;
  byte = static_cast<uint8_t>(in_.front());
  in_.erase(0, 1);
  return true;
}

bool SerialPort::SendCommand(const char* text) {
  Pause(timing_.commandPauseMs);
  for (const char* p = text; *p; ++p)
    if (!WriteByte(static_cast<uint8_t>(*p))) return false;
  return WriteByte('\r');
}

bool SerialPort::DialWrite(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  for (const char* p = text; *p; ++p) {
    if (!WriteByte(static_cast<uint8_t>(*p))) return false;
    Pause(timing_.dialPauseMs);
  }
  return true;
}

bool SerialPort::ReadLine(char* buffer) {
  buffer[0] = '\0';
  uint8_t c = 0;
  do {
    if (!ReadByte(c)) return false;
  } while (c == kXon || c == kXoff || c == '\r' || c == '\n');
  int n = 0;
  for (;;) {
    if (c == '\r') break;
    if (c != kXon && c != kXoff) {
      buffer[n++] = static_cast<char>(c);
      if (n == kMaxLine) {
        uint8_t dropped;
        ReadByte(dropped);
        break;
      }
    }
    if (!ReadByte(c)) {
      buffer[n] = '\0';
      return false;
    }
  }
  buffer[n] = '\0';
  return true;
}

bool SerialPort::WriteBlock(const void* data, uint32_t length) {
  const auto* p = static_cast<const uint8_t*>(data);
  uint32_t done = 0;
  while (done < length) {
    const uint32_t asked = length - done;
    ssize_t n = -1;
    if (fd_ < 0) SetLastError(EBADF);
    else if (WaitFor(POLLOUT, timing_.writeTimeoutMs)) {
      n = ::write(fd_, p + done, asked);
      if (n < 0) SetLastErrorFromErrno();
    }
    const bool ok = n > 0;
    if (trace_) {
      LastErrorGuard keep;
      char text[96];
      std::snprintf(text, sizeof text, "%d, %d rc=%d error=%d\n", static_cast<int>(asked),
                    static_cast<int>(ok ? n : 0), ok ? 1 : 0, ok ? 0 : static_cast<int>(GetLastError()));
      trace_(text);
    }
    if (!ok) return false;
    done += static_cast<uint32_t>(n);
  }
  return true;
}

bool SerialPort::Purge() {
  in_.clear();
  if (fd_ < 0) {
    SetLastError(EBADF);
    return false;
  }
  if (::tcflush(fd_, TCIFLUSH) != 0 || ::tcflush(fd_, TCOFLUSH) != 0) {
    SetLastErrorFromErrno();
    return false;
  }
  return true;
}

bool SerialPort::ObeyXonXoff(bool obey) {
  if (fd_ < 0) {
    SetLastError(EBADF);
    return false;
  }
  if (flow_ != kSoftwareFlow) return true;
  termios t{};
  if (::tcgetattr(fd_, &t) != 0) {
    SetLastErrorFromErrno();
    return false;
  }
  if (obey) t.c_iflag |= IXON;
  else t.c_iflag &= ~IXON;  // also restarts output an XOFF had stopped
  if (::tcsetattr(fd_, TCSANOW, &t) != 0) {
    SetLastErrorFromErrno();
    return false;
  }
  return true;
}

bool SerialPort::ModemLines(int& lines) {
  return fd_ >= 0 && ::ioctl(fd_, TIOCMGET, &lines) == 0;
}

bool SerialPort::IsDsrOn() {
  if (fd_ < 0) return false;
  if (!pty_) {
    int lines = 0;
    return ModemLines(lines) && (lines & TIOCM_DSR);
  }
  LastErrorGuard keep;
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, 0) < 0) return false;
  return !(p.revents & (POLLHUP | POLLERR | POLLNVAL));
}

bool SerialPort::IsRingOn() {
  if (fd_ < 0) return false;
  if (!pty_) {
    int lines = 0;
    return ModemLines(lines) && (lines & TIOCM_RNG);
  }
  LastErrorGuard keep;
  // Take in whatever is waiting, without waiting for more.
  for (int i = 0; i < 16 && Fill(0); ++i) {
  }
  return TakeRingLines(in_);
}

}  // namespace korvo::platform
