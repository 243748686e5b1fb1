#include "platform/serial_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "platform/lasterror.h"
#include "tests/support/sandbox.h"

namespace korvo::platform {
namespace {

// A pseudo-terminal: the test plays the modem on the master end, the port
// under test opens the slave.
class Pty {
 public:
  Pty() {
    char name[128];
    if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) ADD_FAILURE() << "openpty";
    slaveName_ = name;
    termios t{};
    ::tcgetattr(slave_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave_, TCSANOW, &t);
  }
  ~Pty() {
    CloseMaster();
    if (slave_ >= 0) ::close(slave_);
  }
  const std::string& slave() const { return slaveName_; }
  int slaveFd() const { return slave_; }
  void Send(const std::string& bytes) {
    ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::tcdrain(master_);
  }
  // Everything the port wrote, waiting up to ms for the first byte.
  std::string Received(int ms = 1000) {
    std::string out;
    pollfd p{master_, POLLIN, 0};
    while (::poll(&p, 1, out.empty() ? ms : 50) > 0 && (p.revents & POLLIN)) {
      char buf[4096];
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n <= 0) break;
      out.append(buf, static_cast<size_t>(n));
    }
    return out;
  }
  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slaveName_;
};

SerialPort::Timing Fast() {
  SerialPort::Timing t;
  t.readTimeoutMs = 50;
  t.writeTimeoutMs = 200;
  t.commandPauseMs = 0;
  t.dialPauseMs = 0;
  return t;
}

class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(port_.Open(pty_.slave().c_str(), 38400, SerialPort::kHardwareFlow, 0, 8192));
    port_.SetTiming(Fast());
  }
  Pty pty_;
  SerialPort port_;
};

TEST(SerialPortNames, DevicePaths) {
  const struct {
    const char* name;
    const char* path;
  } cases[] = {
      {"COM1", "/dev/ttyS0"},   {"COM12", "/dev/ttyS11"},       {"/tmp/kv1/m1", "/tmp/kv1/m1"},
      {"ttyUSB0", "/dev/ttyUSB0"}, {"COM", "/dev/COM"},          {"COM1x", "/dev/COM1x"},
      {"COM0", "/dev/COM0"},
  };
  for (const auto& c : cases) EXPECT_EQ(SerialPort::DevicePath(c.name), c.path) << c.name;
}

TEST(SerialPortNames, OnlyStandardRatesAreKept) {
  for (int rate : {2400, 4800, 9600, 19200, 38400, 57600, 115200}) EXPECT_EQ(SerialPort::LineRate(rate), rate);
  for (int rate : {14400, 0, -1, 300, 230400}) EXPECT_EQ(SerialPort::LineRate(rate), 19200) << rate;
}

TEST(SerialPortOpen, LineSettingsFollowTheFlowControl) {
  Pty pty;
  const struct {
    int baud;
    int flow;
    speed_t speed;
  } cases[] = {{14400, SerialPort::kHardwareFlow, B19200}, {115200, SerialPort::kSoftwareFlow, B115200}};
  for (const auto& c : cases) {
    SerialPort port;
    ASSERT_TRUE(port.Open(pty.slave().c_str(), c.baud, c.flow, 0, 0));
    EXPECT_EQ(port.LastError(), 0u);
    EXPECT_TRUE(port.IsPseudoTerminal());
    EXPECT_EQ(port.InputBufferSize(), 1024u);
    EXPECT_EQ(port.OutputBufferSize(), 1024u);
    termios t{};
    ASSERT_EQ(::tcgetattr(pty.slaveFd(), &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), c.speed);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(t.c_cflag & (PARENB | CSTOPB));
    EXPECT_FALSE(t.c_lflag & (ECHO | ICANON));
    EXPECT_EQ(t.c_cc[VSTART], 17);
    EXPECT_EQ(t.c_cc[VSTOP], 19);
    const bool hardware = c.flow == SerialPort::kHardwareFlow;
    EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, hardware);
    EXPECT_EQ((t.c_iflag & IXON) != 0, !hardware);
    EXPECT_EQ((t.c_iflag & IXOFF) != 0, !hardware);
  }
}

TEST(SerialPortOpen, FailuresNameTheirStep) {
  korvo::test::Sandbox sandbox;
  const std::string file = sandbox.path("plain").string();
  korvo::test::Sandbox::writeFile(file, "x");
  SerialPort port;
  EXPECT_FALSE(port.Open(sandbox.path("missing").c_str(), 19200, 0, 0, 0));
  EXPECT_EQ(port.FailedStep(), SerialPort::SetupStep::kOpen);
  EXPECT_EQ(port.LastError(), static_cast<uint32_t>(ENOENT));
  EXPECT_FALSE(port.IsOpen());
  EXPECT_FALSE(port.Open(file.c_str(), 19200, 0, 0, 0));
  EXPECT_EQ(port.FailedStep(), SerialPort::SetupStep::kGetState);
  EXPECT_FALSE(port.IsOpen());
}

TEST(SerialPortOpen, ALineIsNotShared) {
  Pty pty;
  SerialPort first, second;
  ASSERT_TRUE(first.Open(pty.slave().c_str(), 19200, 0, 0, 0));
  EXPECT_FALSE(second.Open(pty.slave().c_str(), 19200, 0, 0, 0));
  EXPECT_EQ(second.FailedStep(), SerialPort::SetupStep::kOpen);
  EXPECT_EQ(second.LastError(), static_cast<uint32_t>(EBUSY));
  first.Close();
  EXPECT_TRUE(second.Open(pty.slave().c_str(), 19200, 0, 0, 0));
}

TEST_F(SerialPortTest, ReadLineRules) {
  const std::string longLine(300, 'x');
  const struct {
    std::string input;
    std::vector<std::string> lines;  // then a read that times out
  } cases[] = {
      {"\r\nOK\r\n", {"OK"}},
      {"\x11\x13\r\n\r\n\n\r", {}},
      {"A\x11\x13" "B\nC\r", {"AB\nC"}},
      {"+FCON\r\n\r\nOK\r\n", {"+FCON", "OK"}},
      {longLine + "\r", {std::string(256, 'x'), std::string(43, 'x')}},
      {std::string(256, 'y') + "\r\nZ\r", {std::string(256, 'y'), "Z"}},
  };
  for (const auto& c : cases) {
    pty_.Send(c.input);
    char line[SerialPort::kMaxLine + 1];
    for (const auto& expected : c.lines) {
      ASSERT_TRUE(port_.ReadLine(line)) << expected;
      EXPECT_EQ(std::string(line), expected);
    }
    EXPECT_FALSE(port_.ReadLine(line));
  }
}

TEST_F(SerialPortTest, ALineCutShortByATimeOutFails) {
  pty_.Send("OK");
  char line[SerialPort::kMaxLine + 1];
  EXPECT_FALSE(port_.ReadLine(line));
  uint8_t byte;
  EXPECT_FALSE(port_.ReadByte(byte));
}

TEST_F(SerialPortTest, CommandsAndDialStrings) {
  EXPECT_TRUE(port_.SendCommand("ATZ"));
  EXPECT_EQ(pty_.Received(), "ATZ\r");
  EXPECT_TRUE(port_.DialWrite("%s%s%s\r", "ATDT", "0,", "12345"));
  EXPECT_EQ(pty_.Received(), "ATDT0,12345\r");
  EXPECT_TRUE(port_.WriteByte(0x10));
  EXPECT_EQ(pty_.Received(), "\x10");
}

std::vector<std::string> gTraces;
void Collect(const char* text) { gTraces.emplace_back(text); }

TEST_F(SerialPortTest, WriteBlockWritesEverythingAndTracesEachWrite) {
  gTraces.clear();
  port_.SetTrace(Collect);
  std::string block(3000, '\0');
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7);
  EXPECT_TRUE(port_.WriteBlock(block.data(), static_cast<uint32_t>(block.size())));
  EXPECT_EQ(pty_.Received(), block);
  ASSERT_FALSE(gTraces.empty());
  EXPECT_EQ(gTraces.back().substr(gTraces.back().find(" rc=")), " rc=1 error=0\n");
  EXPECT_EQ(gTraces.front().substr(0, 6), "3000, ");
}

TEST_F(SerialPortTest, PurgeDropsWaitingInput) {
  pty_.Send("stale\r\n");
  ASSERT_TRUE(port_.IsDsrOn());
  uint8_t byte;
  ASSERT_TRUE(port_.ReadByte(byte));  // the rest sits in the port's buffer now
  EXPECT_TRUE(port_.Purge());
  char line[SerialPort::kMaxLine + 1];
  EXPECT_FALSE(port_.ReadLine(line));
}

TEST_F(SerialPortTest, RingWaitingInTheInputIsSeenOnce) {
  EXPECT_FALSE(port_.IsRingOn());
  pty_.Send("\r\nRING\r\n");
  EXPECT_TRUE(port_.IsRingOn());
  EXPECT_FALSE(port_.IsRingOn());
  pty_.Send("\r\nRINGING\r\n\r\nRING\r\nOK\r\n");
  EXPECT_TRUE(port_.IsRingOn());
  char line[SerialPort::kMaxLine + 1];
  ASSERT_TRUE(port_.ReadLine(line));
  EXPECT_STREQ(line, "RINGING");
  ASSERT_TRUE(port_.ReadLine(line));
  EXPECT_STREQ(line, "OK");
}

TEST_F(SerialPortTest, DsrIsTheOtherSideBeingOpen) {
  EXPECT_TRUE(port_.IsDsrOn());
  pty_.CloseMaster();
  EXPECT_FALSE(port_.IsDsrOn());
  EXPECT_FALSE(port_.IsRingOn());
  uint8_t byte;
  EXPECT_FALSE(port_.ReadByte(byte));
}

TEST_F(SerialPortTest, CancelEndsWaitsUntilReset) {
  SerialPort::Timing slow = Fast();
  slow.readTimeoutMs = 60000;
  port_.SetTiming(slow);
  std::thread reader([&] {
    uint8_t byte;
    EXPECT_FALSE(port_.ReadByte(byte));
    EXPECT_EQ(GetLastError(), static_cast<uint32_t>(ECANCELED));
  });
  port_.Cancel();
  reader.join();
  EXPECT_FALSE(port_.SendCommand("AT"));
  port_.ResetCancel();
  EXPECT_TRUE(port_.SendCommand("AT"));
  EXPECT_EQ(pty_.Received(), "AT\r");
}

// XON and XOFF from the modem pace what the port writes with software flow
// control, except while binary data comes from the modem: then they are data.
TEST(SerialPortFlow, XonXoffFromTheModemAreObeyedOnlyWhenAsked) {
  for (const int flow : {SerialPort::kSoftwareFlow, SerialPort::kHardwareFlow}) {
    SCOPED_TRACE(flow == SerialPort::kSoftwareFlow ? "software" : "hardware");
    const bool software = flow == SerialPort::kSoftwareFlow;
    Pty pty;
    SerialPort port;
    ASSERT_TRUE(port.Open(pty.slave().c_str(), 19200, flow, 0, 0));
    port.SetTiming(Fast());
    // Sends the bytes and a mark, and returns what the port read up to the
    // mark: once the mark is in, the line has dealt with the bytes before it.
    auto signal = [&](const std::string& bytes) {
      pty.Send(bytes + "|");
      std::string got;
      uint8_t byte = 0;
      while (port.ReadByte(byte) && byte != '|') got += static_cast<char>(byte);
      return got;
    };

    EXPECT_EQ(signal("\x13"), software ? "" : "\x13");  // XOFF
    EXPECT_EQ(port.WriteByte('a'), !software);
    EXPECT_EQ(signal("\x11"), software ? "" : "\x11");  // XON
    EXPECT_TRUE(port.WriteByte('b'));
    EXPECT_EQ(pty.Received(), software ? "b" : "ab");

    // Output a modem's XOFF stopped goes on once they are data.
    signal("\x13");
    ASSERT_TRUE(port.ObeyXonXoff(false));
    EXPECT_TRUE(port.WriteByte('c'));
    const std::string data = "\x11" "A\x13" "B";
    EXPECT_EQ(signal(data), data);
    EXPECT_TRUE(port.WriteByte('d'));
    EXPECT_EQ(pty.Received(), "cd");

    ASSERT_TRUE(port.ObeyXonXoff(true));
    signal("\x13");
    EXPECT_EQ(port.WriteByte('e'), !software);
  }
}

TEST(SerialPortClosed, ReadsAsOff) {
  SerialPort port;
  uint8_t byte;
  EXPECT_FALSE(port.IsDsrOn());
  EXPECT_FALSE(port.IsRingOn());
  EXPECT_FALSE(port.ReadByte(byte));
  EXPECT_FALSE(port.WriteByte(1));
  EXPECT_FALSE(port.Purge());
  EXPECT_FALSE(port.ObeyXonXoff(false));
  port.Close();
}

}  // namespace
}  // namespace korvo::platform
