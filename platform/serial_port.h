// A serial line to a modem over termios. Port names: "COMn" is /dev/ttyS(n-1),
// a name starting with '/' is a path, any other name is under /dev.
//
// Modem status comes from TIOCMGET where the device has modem lines. A
// pseudo-terminal has none: there DSR is "the other side is open" and RI is
// "a RING result code is waiting in the input" (a RING seen that way is taken
// out of the input, so each one is seen once).
//
// Every one-byte read waits at most the read time-out (3000 ms), every write
// the write time-out (300 ms); the pauses of SendCommand and DialWrite are
// 150 ms. Tests shorten them through SetTiming.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace korvo::platform {

class SerialPort {
 public:
  static constexpr int kDefaultBaudRate = 19200;
  static constexpr uint32_t kDefaultBufferSize = 1024;
  static constexpr int kMaxLine = 256;  // characters of a line; buffers hold kMaxLine + 1
  static constexpr uint8_t kXon = 17;
  static constexpr uint8_t kXoff = 19;

  enum FlowControl : int { kHardwareFlow = 0, kSoftwareFlow = 1 };

  // The set-up step an open failed at, so the caller can name it.
  enum class SetupStep {
    kNone,
    kOpen,       // the device could not be opened (nothing is logged for it)
    kBuffers,    // "[i/o buffers]"
    kTimeouts,   // "[Time outs]"
    kGetState,   // "Get comm properties failed (DCB)!"
    kLine,       // "[DCB]"
    kPurge,      // "[Purge comm]"
  };

  struct Timing {
    uint32_t readTimeoutMs = 3000;
    uint32_t writeTimeoutMs = 300;
    uint32_t commandPauseMs = 150;  // before every command
    uint32_t dialPauseMs = 150;     // after every dialled byte
  };

  using TraceFn = void (*)(const char* text);

  SerialPort();
  ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  static std::string DevicePath(const std::string& portName);
  // The rate the line is set to: one of 2400 ... 115200, else 19200.
  static int LineRate(int baudRate);

  // Opens and sets up the line; false with LastError and FailedStep telling
  // why. Buffer sizes of 0 mean 1024. A port already open is closed first.
  bool Open(const char* portName, int baudRate, int flowControl, uint32_t inputSize, uint32_t outputSize);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

  uint32_t LastError() const { return lastError_; }
  SetupStep FailedStep() const { return failedStep_; }
  // The line as last set up (for tests and traces).
  int BaudRate() const { return baudRate_; }
  int Flow() const { return flow_; }
  uint32_t InputBufferSize() const { return inputSize_; }
  uint32_t OutputBufferSize() const { return outputSize_; }
  bool IsPseudoTerminal() const { return pty_; }

  void SetTiming(const Timing& timing) { timing_ = timing; }
  const Timing& GetTiming() const { return timing_; }
  // Where WriteBlock's traces go; none by default.
  void SetTrace(TraceFn trace) { trace_ = trace; }

  // One byte; true only when exactly one byte moved (a read time-out is false).
  bool WriteByte(uint8_t byte);
  bool ReadByte(uint8_t& byte);
  // Pauses, then writes the text and CR byte by byte; false at the first
  // byte not written. No response is awaited.
  bool SendCommand(const char* text);
  // Formats the text and writes it byte by byte, pausing after every byte.
  bool DialWrite(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // One response line into buffer (kMaxLine + 1 bytes): leading XON, XOFF, CR
  // and LF are skipped; XON and XOFF inside are dropped, LF is kept; the line
  // ends at CR or after kMaxLine characters (the next byte is then dropped).
  // False when a read fails or times out.
  bool ReadLine(char* buffer);
  // Writes everything, or stops at the first write that fails.
  bool WriteBlock(const void* data, uint32_t length);
  // Drops what is waiting in both directions.
  bool Purge();
  // With software flow control, whether XOFF and XON from the modem stop and
  // restart what is written. Page data coming from the modem is binary and
  // carries those bytes as data, so they must not be obeyed (or taken out)
  // while it comes. Nothing to do with hardware flow control.
  bool ObeyXonXoff(bool obey);

  bool IsDsrOn();
  bool IsRingOn();

  // Makes every read, write and wait of the line fail at once (ECANCELED),
  // across reopening, until ResetCancel; safe from another thread while one
  // uses the line.
  void Cancel();
  void ResetCancel();

 private:
  bool WaitFor(short events, uint32_t ms);
  // Moves what the device holds into in_; waits up to ms for the first byte.
  bool Fill(uint32_t ms);
  bool ModemLines(int& lines);
  void Fail(SetupStep step, uint32_t error);

  int fd_ = -1;
  int cancelFd_ = -1;  // an eventfd, readable once cancelled
  bool pty_ = false;
  uint32_t lastError_ = 0;
  SetupStep failedStep_ = SetupStep::kNone;
  int baudRate_ = 0;
  int flow_ = kHardwareFlow;
  uint32_t inputSize_ = 0;
  uint32_t outputSize_ = 0;
  Timing timing_;
  TraceFn trace_ = nullptr;
  std::string in_;  // bytes read from the device and not yet taken
};

}  // namespace korvo::platform
