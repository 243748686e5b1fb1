#include "platform/local_socket.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <thread>

#include "platform/lasterror.h"
#include "tests/support/sandbox.h"

namespace korvo::platform {

namespace {

struct Fd {
  Handle h;
  explicit Fd(Handle fd = kInvalidHandle) : h(fd) {}
  ~Fd() {
    if (h >= 0) close(h);
  }
};

class LocalSocketTest : public ::testing::Test {
 protected:
  test::Sandbox sandbox;
  std::string path = (sandbox.pipeDir() / "Korvo").string();
};

}  // namespace

TEST_F(LocalSocketTest, PipeNamesMapIntoThePipeDirectory) {
  struct Case {
    const char* name;
    std::string path;
    uint32_t error;
  } cases[] = {
      {"\\\\.\\Pipe\\Korvo", path, 0},
      {"\\\\.\\PIPE\\Korvo", path, 0},
      {"\\\\.\\pipe\\Other", (sandbox.pipeDir() / "Other").string(), 0},
      {"\\\\faraway\\Pipe\\Korvo", "", kErrorHostUnreachable},
      {"\\\\\\Pipe\\Korvo", "", kErrorHostUnreachable},
      {"Korvo", "", EINVAL},
      {"\\\\.\\Pipe\\", "", EINVAL},
      {"\\\\.\\Pipe\\a/b", "", EINVAL},
      {"\\\\.\\Mailslot\\Korvo", "", EINVAL},
      {nullptr, "", EINVAL},
  };
  for (const auto& c : cases) {
    SetLastError(0);
    EXPECT_EQ(PipeNameToSocketPath(c.name), c.path) << (c.name ? c.name : "null");
    if (c.error) {
      EXPECT_EQ(GetLastError(), c.error) << (c.name ? c.name : "null");
    }
  }
  unsetenv("KORVO_PIPE_DIR");
  EXPECT_EQ(PipeNameToSocketPath("\\\\.\\Pipe\\Korvo"), "/run/korvo/Korvo");
}

TEST(LocalMachine, DotAndOwnNameInAnyCaseAreLocal) {
  std::string me = ComputerName();
  ASSERT_FALSE(me.empty());
  std::string upper = me;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_TRUE(IsThisMachine("."));
  EXPECT_TRUE(IsThisMachine(me.c_str()));
  EXPECT_TRUE(IsThisMachine(upper.c_str()));
  EXPECT_FALSE(IsThisMachine((me + "x").c_str()));
  EXPECT_FALSE(IsThisMachine(""));
  EXPECT_FALSE(IsThisMachine(nullptr));
  EXPECT_FALSE(IsThisMachine(".."));
}

TEST_F(LocalSocketTest, MessagesKeepTheirBoundsAndALongOneIsTruncated) {
  LocalListener listener;
  ASSERT_TRUE(listener.Listen(path, 4));
  Fd client(LocalSocketConnect(path, 0));
  ASSERT_GE(client.h, 0);
  Fd server(listener.Accept());
  ASSERT_GE(server.h, 0);

  uint32_t done = 0;
  ASSERT_TRUE(WriteHandle(client.h, true, "0123456789", 10, &done));
  ASSERT_TRUE(WriteHandle(client.h, true, "ab", 2, &done));
  char buf[16] = {};
  bool truncated = false;
  ASSERT_TRUE(ReadHandle(server.h, true, buf, 4, &done, &truncated));
  EXPECT_EQ(done, 4u);
  EXPECT_TRUE(truncated);
  EXPECT_EQ(std::string(buf, 4), "0123");
  // The rest of the long message is gone; the next read is the next message.
  ASSERT_TRUE(ReadHandle(server.h, true, buf, sizeof buf, &done, &truncated));
  EXPECT_EQ(std::string(buf, done), "ab");
  EXPECT_FALSE(truncated);

  // An empty message reads as no data, not as the peer's end; what follows it
  // still comes.
  ASSERT_EQ(send(client.h, "", 0, MSG_NOSIGNAL), 0);
  ASSERT_TRUE(WriteHandle(client.h, true, "cd", 2, &done));
  EXPECT_FALSE(ReadHandle(server.h, true, buf, sizeof buf, &done, &truncated));
  EXPECT_EQ(GetLastError(), kErrorHandleEof);
  ASSERT_TRUE(ReadHandle(server.h, true, buf, sizeof buf, &done, &truncated));
  EXPECT_EQ(std::string(buf, done), "cd");
}

TEST_F(LocalSocketTest, APeerThatWentAwayIsABrokenPipe) {
  LocalListener listener;
  ASSERT_TRUE(listener.Listen(path, 4));
  Fd client(LocalSocketConnect(path, 0));
  Fd server(listener.Accept());
  ASSERT_GE(server.h, 0);
  close(client.h);
  client.h = kInvalidHandle;
  char buf[4];
  uint32_t done = 0;
  bool truncated = false;
  EXPECT_FALSE(ReadHandle(server.h, true, buf, sizeof buf, &done, &truncated));
  EXPECT_EQ(GetLastError(), kErrorBrokenPipe);
  // No SIGPIPE: the write fails with the same error.
  EXPECT_FALSE(WriteHandle(server.h, true, "x", 1, &done));
  EXPECT_EQ(GetLastError(), kErrorBrokenPipe);
  ASSERT_TRUE(SetReceiveTimeout(server.h, 1000));
  EXPECT_FALSE(ReadHandle(server.h, true, buf, sizeof buf, &done, &truncated));
  EXPECT_EQ(GetLastError(), kErrorBrokenPipe);
}

TEST_F(LocalSocketTest, ATimedReceiveGivesUpWhenNothingComes) {
  LocalListener listener;
  ASSERT_TRUE(listener.Listen(path, 4));
  Fd client(LocalSocketConnect(path, 0));
  Fd server(listener.Accept());
  char buf[4];
  uint32_t done = 0;
  bool truncated = false;
  ASSERT_TRUE(SetReceiveTimeout(client.h, 0));
  EXPECT_FALSE(ReadHandle(client.h, true, buf, sizeof buf, &done, &truncated));
  EXPECT_EQ(GetLastError(), kErrorTimeout);
  ASSERT_TRUE(WriteHandle(server.h, true, "ok", 2, &done));
  ASSERT_TRUE(ReadHandle(client.h, true, buf, sizeof buf, &done, &truncated));
  EXPECT_EQ(done, 2u);
}

TEST_F(LocalSocketTest, ConnectFailuresKeepTheirCause) {
  EXPECT_EQ(LocalSocketConnect(path, 0), kInvalidHandle);
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  {
    LocalListener listener;
    ASSERT_TRUE(listener.Listen(path, 4));
  }
  // Closing the listener removed its file.
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(LocalSocketTest, AFullBacklogIsBusyAndIsWaitedOn) {
  LocalListener listener;
  ASSERT_TRUE(listener.Listen(path, 0));  // room for one waiting client
  Fd first(LocalSocketConnect(path, 0));
  ASSERT_GE(first.h, 0);
  Fd busy(LocalSocketConnect(path, 0));
  EXPECT_EQ(busy.h, kInvalidHandle);
  EXPECT_EQ(GetLastError(), kErrorPipeBusy);
  Fd timedOut(LocalSocketConnect(path, 1));
  EXPECT_EQ(timedOut.h, kInvalidHandle);
  EXPECT_EQ(GetLastError(), kErrorTimeout);

  // A waiting client gets in as soon as the server takes the first one.
  Handle waited = kInvalidHandle;
  std::thread t([&] { waited = LocalSocketConnect(path, 60000); });
  Fd accepted(listener.Accept());
  t.join();
  Fd second(waited);
  EXPECT_GE(accepted.h, 0);
  EXPECT_GE(second.h, 0);
}

TEST_F(LocalSocketTest, AStaleSocketFileIsReplacedButALiveServerIsNot) {
  {
    // A socket file nobody listens on, as a crashed server leaves it.
    Fd s(socket(AF_UNIX, SOCK_SEQPACKET, 0));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, path.c_str());
    ASSERT_EQ(bind(s.h, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  }
  ASSERT_TRUE(std::filesystem::exists(path));
  LocalListener live;
  ASSERT_TRUE(live.Listen(path, 4));
  LocalListener second;
  EXPECT_FALSE(second.Listen(path, 4));
  EXPECT_EQ(GetLastError(), static_cast<uint32_t>(EADDRINUSE));
  second.Close();
  EXPECT_TRUE(std::filesystem::exists(path));  // the live server's file stays
}

TEST_F(LocalSocketTest, ABusyLiveServerIsNotMistakenForAStaleFile) {
  LocalListener live;
  ASSERT_TRUE(live.Listen(path, 0));
  Fd waiting(LocalSocketConnect(path, 0));  // fills the backlog
  ASSERT_GE(waiting.h, 0);
  LocalListener second;
  EXPECT_FALSE(second.Listen(path, 4));  // returns at once, the file kept
  EXPECT_EQ(GetLastError(), static_cast<uint32_t>(EADDRINUSE));
  EXPECT_TRUE(std::filesystem::exists(path));
}

TEST_F(LocalSocketTest, InterruptEndsABlockedAccept) {
  LocalListener listener;
  ASSERT_TRUE(listener.Listen(path, 4));
  Handle got = 0;
  uint32_t error = 0;
  std::thread t([&] {
    got = listener.Accept();
    error = GetLastError();
  });
  listener.Interrupt();
  t.join();
  EXPECT_EQ(got, kInvalidHandle);
  EXPECT_EQ(error, kErrorOperationAborted);
  EXPECT_EQ(listener.Accept(), kInvalidHandle);  // stays interrupted
}

// Who may do what is the server's decision from the peer's credentials, so
// the socket itself lets every local user connect, whatever the umask.
TEST_F(LocalSocketTest, EveryLocalUserMayConnect) {
  const std::string dir = sandbox.path("fresh").string();
  const std::string socketPath = dir + "/Korvo";
  const mode_t old = umask(077);
  LocalListener listener;
  const bool listening = listener.Listen(socketPath, 4);
  umask(old);
  ASSERT_TRUE(listening);
  struct stat st;
  ASSERT_EQ(stat(socketPath.c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0666u);
  ASSERT_EQ(stat(dir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u) << "the folder it makes lets everybody reach the socket";
}

TEST_F(LocalSocketTest, TheServerLearnsThePeerUser) {
  LocalListener listener;
  ASSERT_TRUE(listener.Listen(path, 4));
  Fd client(LocalSocketConnect(path, 0));
  Fd server(listener.Accept());
  uint32_t uid = 0xFFFFFFFF;
  std::string name;
  ASSERT_TRUE(LocalSocketPeer(server.h, &uid, &name));
  EXPECT_EQ(uid, getuid());
  passwd* pw = getpwuid(getuid());
  ASSERT_NE(pw, nullptr);
  EXPECT_EQ(name, pw->pw_name);
}

}  // namespace korvo::platform
