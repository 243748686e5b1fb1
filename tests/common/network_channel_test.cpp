#include "common/network_channel.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <thread>
#include "platform/remote_pipe.h"
#include "platform/pipe_frames.h"
#include <cstdio>
#include <sys/stat.h>
#include <algorithm>

#include "common/settings.h"
#include "platform/lasterror.h"
#include "platform/local_socket.h"
#include "tests/support/sandbox.h"

namespace korvo {

namespace {

int OpenFdCount() {
  int n = 0;
  DIR* d = opendir("/proc/self/fd");
  while (readdir(d)) ++n;
  closedir(d);
  return n;
}

// A listening ServerPipe and one connected client and session.
class ChannelTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(listener.Listen(nullptr), 1); }
  void TearDown() override { ClientPipeChannel::OverrideTimeouts(std::nullopt, std::nullopt); }
  void Connect(const char* server = ".") {
    ASSERT_EQ(client.Connect(server), 1) << client.GetError();
    ASSERT_EQ(listener.WaitForClient(), 1);
    ASSERT_EQ(listener.HandOver(session), 1);
  }
  test::Sandbox sandbox;
  ServerPipe listener;
  ServerPipe session;
  ClientPipe client;
};

}  // namespace

TEST_F(ChannelTest, ClientAndSessionTalkInMessages) {
  Connect();
  uint32_t done = 0;
  EXPECT_EQ(client.Send("hello", 5, &done), 1);
  char buf[16];
  EXPECT_EQ(session.Receive(buf, sizeof buf, &done), 1);
  EXPECT_EQ(std::string(buf, done), "hello");
  EXPECT_EQ(session.Send("0123456789", 10, &done), 1);
  // A message longer than the buffer is a success with "more data" noted.
  EXPECT_EQ(client.Receive(buf, 4, &done), 1);
  EXPECT_EQ(done, 4u);
  EXPECT_EQ(client.GetError(), platform::kErrorMoreData);
  EXPECT_TRUE(client.WasTruncated());
  EXPECT_EQ(session.GetPeerUser(nullptr), 1);
  std::string user;
  uint32_t uid = 0;
  EXPECT_EQ(session.GetPeerUser(&user, &uid), 1);
  EXPECT_EQ(uid, getuid());
  EXPECT_EQ(user, getpwuid(getuid())->pw_name);
}

TEST_F(ChannelTest, OwnMachineNameMeansTheLocalPipe) {
  std::string me = platform::ComputerName();
  for (char& c : me) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  Connect(me.c_str());
  EXPECT_EQ(client.Close(), 1);
  EXPECT_EQ(client.Close(), 0);
}

TEST_F(ChannelTest, EachHandleIsClosedExactlyOnce) {
  int before = OpenFdCount();
  for (int i = 0; i < 3; ++i) {
    auto c = std::make_unique<ClientPipe>();
    auto s = std::unique_ptr<Stream>(ServerPipe::kRuntimeClass.CreateObject());
    ASSERT_EQ(c->Connect(nullptr), 1);
    ASSERT_EQ(listener.WaitForClient(), 1);
    ASSERT_EQ(listener.HandOver(*s), 1);
    EXPECT_EQ(listener.HandOver(*s), 0);  // nothing left to hand over
    EXPECT_EQ(c->Close(), 1);
    EXPECT_EQ(s->Close(), 1);
  }
  {
    // Destroyed without Close: the owners close.
    ClientPipe c;
    ServerPipe s;
    ASSERT_EQ(c.Connect("."), 1);
    ASSERT_EQ(listener.WaitForClient(), 1);
    ASSERT_EQ(listener.HandOver(s), 1);
  }
  EXPECT_EQ(OpenFdCount(), before);
}

TEST_F(ChannelTest, ABrokenConnectionIsABrokenPipeOnBothEnds) {
  Connect();
  client.Close();
  char buf[4];
  uint32_t done = 0;
  EXPECT_EQ(session.Receive(buf, sizeof buf, &done), 0);
  EXPECT_EQ(session.GetError(), platform::kErrorBrokenPipe);
  EXPECT_EQ(session.Send("x", 1, &done), 0);
  EXPECT_EQ(session.GetError(), platform::kErrorBrokenPipe);

  ClientPipe other;
  ServerPipe otherSession;
  ASSERT_EQ(other.Connect("."), 1);
  ASSERT_EQ(listener.WaitForClient(), 1);
  ASSERT_EQ(listener.HandOver(otherSession), 1);
  otherSession.Close();
  EXPECT_EQ(other.Receive(buf, sizeof buf, &done), 0);
  EXPECT_EQ(other.GetError(), platform::kErrorBrokenPipe);
}

TEST_F(ChannelTest, AClientReadTimesOut) {
  ClientPipeChannel::OverrideTimeouts(1, std::nullopt);
  Connect();
  char buf[4];
  uint32_t done = 0;
  EXPECT_EQ(client.Receive(buf, sizeof buf, &done), 0);
  EXPECT_EQ(client.GetError(), platform::kErrorTimeout);
}

// A session that takes nothing: the client's writes fill the socket, and
// the next one waits no longer than a read would.
TEST_F(ChannelTest, AClientWriteTimesOut) {
  ClientPipeChannel::OverrideTimeouts(200, std::nullopt);
  Connect();
  const std::string block(4096, 'x');
  uint32_t done = 0;
  int ok = 1;
  for (int i = 0; i < 65536 && ok; ++i) ok = client.Send(block.data(), static_cast<uint32_t>(block.size()), &done);
  EXPECT_EQ(ok, 0) << "64 MiB went into a socket nobody reads";
  EXPECT_EQ(client.GetError(), platform::kErrorTimeout);
}

TEST_F(ChannelTest, ReadTimeoutComesFromTheSettingWithinItsLimit) {
  EXPECT_EQ(ClientPipeChannel::ReadTimeoutMs(), 10000u);  // missing
  EXPECT_EQ(ClientPipeChannel::BusyWaitMs(), 15000u);
  struct Case {
    uint32_t stored, used;
  } cases[] = {{500, 500}, {120000, 120000}, {120001, 120000}, {0xFFFFFFFF, 120000}};
  for (const auto& c : cases) {
    ASSERT_EQ(SetReadTimeout(c.stored), 1);
    EXPECT_EQ(ClientPipeChannel::ReadTimeoutMs(), c.used) << c.stored;
  }
}

TEST_F(ChannelTest, ConnectFailures) {
  ClientPipe remote;
  EXPECT_EQ(remote.Connect("faraway-host"), 0);
  EXPECT_EQ(remote.GetError(), platform::kErrorHostUnreachable);
  listener.Close();
  ClientPipe none;
  EXPECT_EQ(none.Connect("."), 0);
  EXPECT_EQ(none.GetError(), platform::kErrorFileNotFound);
  EXPECT_FALSE(none.IsOpen());
}

TEST_F(ChannelTest, ASecondServerCannotTakeThePipe) {
  ServerPipe second;
  EXPECT_EQ(second.Listen(nullptr), 0);
  EXPECT_EQ(second.GetError(), static_cast<uint32_t>(EADDRINUSE));
  EXPECT_EQ(second.WaitForClient(), 0);
}

TEST_F(ChannelTest, InterruptEndsAWaitingListener) {
  int result = -1;
  std::thread t([&] { result = listener.WaitForClient(); });
  listener.Interrupt();
  t.join();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(listener.GetError(), platform::kErrorOperationAborted);
}

TEST_F(ChannelTest, InterruptEndsAWaitingSession) {
  Connect();
  int result = -1;
  uint32_t error = 0;
  std::thread t([&] {
    char buf[4];
    uint32_t done = 0;
    result = session.Receive(buf, sizeof buf, &done);
    error = session.GetError();
  });
  session.Interrupt();
  t.join();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(error, platform::kErrorBrokenPipe);
  EXPECT_EQ(session.Close(), 1);
  session.Interrupt();  // closed: nothing to wake, nothing touched
}

TEST(ClientPipeChannelTest, BuildsThePipeNameAndNeverIntroduces) {
  test::Sandbox sandbox;
  ClientPipeChannel channel;
  EXPECT_STREQ(channel.GetPipeName(), "\\\\.\\Pipe\\Korvo");
  EXPECT_EQ(channel.Open("server7"), 1);
  EXPECT_STREQ(channel.GetPipeName(), "\\\\server7\\Pipe\\Korvo");
  std::string longName(300, 'n');
  EXPECT_EQ(channel.Open(longName.c_str()), 1);
  EXPECT_EQ(std::string(channel.GetPipeName()).size(), 127u);
  ServerPipe listener;
  ASSERT_EQ(listener.Listen(nullptr), 1);
  EXPECT_EQ(channel.ConnectAndIntroduce(".", 0), 0);
  EXPECT_TRUE(channel.IsOpen());  // connected, but the introduction failed
}

TEST(SocketTest, ConnectsToNothing) {
  Socket s;
  char buf[4];
  uint32_t done = 0;
  EXPECT_EQ(s.Connect("."), 0);
  EXPECT_EQ(s.Receive(buf, 4, &done), 0);
  EXPECT_EQ(s.Send("x", 1, &done), 0);
  EXPECT_EQ(s.WaitForClient(), 0);
  EXPECT_EQ(s.HandOver(s), 0);
  EXPECT_EQ(s.Reserved(1), 0);
  EXPECT_EQ(s.Close(), 0);
  NetworkChannel base;
  EXPECT_EQ(base.Connect("."), 0);
  EXPECT_EQ(base.Close(), 0);
}

TEST(PipeTest, PlainBlockingPipeBothEnds) {
  test::Sandbox sandbox;
  Pipe server;
  int opened = 0;
  std::thread t([&] { opened = server.Open(1, nullptr); });
  Pipe client;
  // The server may not listen yet: retry until it does (no timing involved).
  while (!client.Open(0, ".")) {
    ASSERT_TRUE(client.GetError() == platform::kErrorFileNotFound || client.GetError() == ECONNREFUSED)
        << client.GetError();
  }
  t.join();
  ASSERT_EQ(opened, 1);
  uint32_t done = 0;
  EXPECT_EQ(client.Write("ping", 4, &done), 1);
  char buf[8];
  EXPECT_EQ(server.Read(buf, sizeof buf, &done), 1);
  EXPECT_EQ(std::string(buf, done), "ping");
  EXPECT_EQ(server.Close(), 1);
  EXPECT_EQ(server.Close(), 0);
  EXPECT_EQ(client.Read(buf, sizeof buf, &done), 0);
  EXPECT_EQ(client.GetError(), platform::kErrorBrokenPipe);
  Pipe remote;
  EXPECT_EQ(remote.Open(0, "faraway-host"), 0);
}

}  // namespace korvo

namespace korvo {
namespace {

// The remote path with a stand-in for ssh that greets as the relay does and
// then takes no more input, as ssh does when its link has gone down: the
// client's writes time out as its reads do, and its close returns.
TEST(RemoteChannelTest, AWriteOverAStalledLinkTimesOutAndTheCloseReturns) {
  test::Sandbox sandbox;
  std::string octal;
  for (unsigned char c : platform::EncodeGreeting(0)) {
    char esc[8];
    std::snprintf(esc, sizeof esc, "\\%03o", c);
    octal += esc;
  }
  const std::string script = sandbox.path("stalled-ssh").string();
  // Asked for its settings (ssh -G) it has none; as the link, it stalls.
  test::Sandbox::writeFile(script, "#!/bin/sh\n[ \"$1\" = -G ] && exit 0\nprintf '" + octal + "'\nexec sleep 600\n");
  chmod(script.c_str(), 0700);
  ASSERT_EQ(SetRemoteSshProgram(script.c_str()), 1);
  ClientPipeChannel::OverrideTimeouts(500, std::nullopt);
  {
    ClientPipe pipe;
    ASSERT_EQ(pipe.Connect("korvo-stalled"), 1) << pipe.GetError();
    const std::string block(4096, 'x');
    uint32_t done = 0;
    int ok = 1;
    for (int i = 0; i < 65536 && ok; ++i) ok = pipe.Send(block.data(), static_cast<uint32_t>(block.size()), &done);
    EXPECT_EQ(ok, 0) << "64 MiB went to an ssh that reads nothing";
    EXPECT_EQ(pipe.GetError(), platform::kErrorTimeout);
  }
  ClientPipeChannel::OverrideTimeouts(std::nullopt, std::nullopt);
}

// ssh gets keep-alive options unless its configuration for the host sets
// them; the real ssh says so (ssh -G), with a configuration file of each case.
TEST(RemoteChannelTest, SshGetsKeepAliveUnlessItsConfigurationSetsIt) {
  if (access("/usr/bin/ssh", X_OK) != 0) GTEST_SKIP() << "needs ssh";
  test::Sandbox sandbox;
  const std::vector<std::string> interval = {"-o", "ServerAliveInterval=10"};
  const std::vector<std::string> count = {"-o", "ServerAliveCountMax=3"};
  struct Case {
    const char* what;
    std::string config;
    std::string extra;  // further options
    bool interval, count;
  } cases[] = {
      {"nothing set", "", "", true, true},
      {"an interval set", "ServerAliveInterval 30\n", "", false, false},
      {"a count set", "ServerAliveCountMax 6\n", "", true, false},
      {"set for another host only", "Host other\n  ServerAliveInterval 30\n", "", true, true},
      {"set for this host", "Host kvserver\n  ServerAliveInterval 30\n", "", false, false},
      {"set in the options", "", "-o ServerAliveInterval=5", false, false},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string config = sandbox.path("ssh_config." + std::to_string(n++)).string();
    test::Sandbox::writeFile(config, c.config);
    platform::RemoteOptions options;
    options.sshProgram = "/usr/bin/ssh";
    options.sshOptions = platform::SplitOptions("-F " + config + " " + c.extra);
    const std::vector<std::string> argv = platform::RemoteCommandLine("kvserver", options);
    auto has = [&](const std::vector<std::string>& pair) {
      return std::search(argv.begin(), argv.end(), pair.begin(), pair.end()) != argv.end();
    };
    EXPECT_EQ(has(interval), c.interval);
    EXPECT_EQ(has(count), c.count);
    // Before the host and its command.
    const auto host = std::find(argv.begin(), argv.end(), "kvserver");
    if (c.interval) {
      EXPECT_LT(std::search(argv.begin(), argv.end(), interval.begin(), interval.end()), host);
    }
  }
}

}  // namespace
}  // namespace korvo
