// Batches of messages on a local message socket: what the batch calls count
// as sent or received must be exactly the messages that went, and a batch
// never takes a message beyond the bytes it was asked for.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/lasterror.h"

namespace korvo::platform {

namespace {

constexpr uint32_t kBlock = 4096;

class MessageBatchTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fd), 0); }
  void TearDown() override {
    for (int h : fd)
      if (h >= 0) close(h);
  }
  void Put(const std::string& message) {
    ASSERT_EQ(send(fd[0], message.data(), message.size(), MSG_NOSIGNAL), static_cast<ssize_t>(message.size()));
  }
  // The next message waiting at the receiving end, "<none>" when there is none.
  std::string Next() {
    std::string buf(3 * kBlock, '\0');
    const ssize_t n = recv(fd[1], buf.data(), buf.size(), MSG_DONTWAIT);
    return n < 0 ? "<none>" : buf.substr(0, static_cast<size_t>(n));
  }

  int fd[2] = {-1, -1};
};

}  // namespace

// Messages already waiting, received into a buffer for count bytes: those of
// the expected sizes are kept, the first of another size ends the batch with
// its error, and what lies beyond count stays in the socket.
TEST_F(MessageBatchTest, ReceivedBatchesTakeExactlyTheirMessages) {
  struct Case {
    const char* name;
    std::vector<uint32_t> sizes;  // the messages sent, then a marker message
    uint32_t count;               // the bytes asked for
    uint32_t kept;                // the bytes received whole
    uint32_t error;               // 0: success
  };
  const Case cases[] = {
      {"three whole blocks", {kBlock, kBlock, kBlock}, 3 * kBlock, 3 * kBlock, 0},
      {"a short last block", {kBlock, 5}, kBlock + 5, kBlock + 5, 0},
      {"more than a batch", std::vector<uint32_t>(kBatchMessages + 3, kBlock), (kBatchMessages + 3) * kBlock,
       kBatchMessages * kBlock, 0},
      {"a short block between whole ones", {kBlock, 100, kBlock}, 3 * kBlock, kBlock, kErrorHandleEof},
      {"an empty message between whole ones", {kBlock, 0, kBlock}, 3 * kBlock, kBlock, kErrorHandleEof},
      {"a longer block", {kBlock, 2 * kBlock}, 3 * kBlock, kBlock, kErrorMoreData},
      {"a last block longer than the rest", {kBlock, 10}, kBlock + 5, kBlock, kErrorMoreData},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (size_t i = 0; i < c.sizes.size(); ++i) Put(std::string(c.sizes[i], static_cast<char>('a' + i % 26)));
    Put("marker");
    std::string buf(c.count, '\0');
    uint32_t done = 1;
    const bool ok = ReceiveMessages(fd[1], buf.data(), c.count, kBlock, &done);
    EXPECT_EQ(ok, c.error == 0);
    if (!ok) {
      EXPECT_EQ(GetLastError(), c.error);
    }
    EXPECT_EQ(done, c.kept);
    std::string expected;
    for (size_t i = 0; expected.size() < c.kept; ++i) expected += std::string(c.sizes[i], static_cast<char>('a' + i % 26));
    EXPECT_TRUE(buf.substr(0, done) == expected);
    // What the batch left; after a success, the messages beyond it and the
    // marker. (A failed batch may have taken more: the transfer ends.)
    std::vector<std::string> rest;
    for (std::string m = Next(); m != "<none>"; m = Next()) rest.push_back(m);
    if (!ok) continue;
    const size_t taken = c.kept / kBlock + (c.kept % kBlock ? 1 : 0);
    ASSERT_EQ(rest.size(), c.sizes.size() - taken + 1);
    EXPECT_EQ(rest.back(), "marker");
  }
}

TEST_F(MessageBatchTest, AReceiveSaysWhyNothingCame) {
  ASSERT_TRUE(SetReceiveTimeout(fd[1], 10));
  char buf[kBlock];
  uint32_t done = 1;
  EXPECT_FALSE(ReceiveMessages(fd[1], buf, sizeof buf, kBlock, &done));
  EXPECT_EQ(GetLastError(), kErrorTimeout);
  EXPECT_EQ(done, 0u);
  close(fd[0]);
  fd[0] = -1;
  EXPECT_FALSE(ReceiveMessages(fd[1], buf, sizeof buf, kBlock, &done));
  EXPECT_EQ(GetLastError(), kErrorBrokenPipe);
}

// A receiver that reads nothing: the sender's batches fill the socket, the
// send that finds no room waits its time-out and fails as one, and every message
// counted as sent is in the socket, whole and in order.
TEST_F(MessageBatchTest, SentBatchesCountEveryMessageThatWent) {
  ASSERT_TRUE(SetSendTimeout(fd[0], 20));
  std::string data(64 * kBlock, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i / kBlock);
  uint32_t sent = 0;
  bool failed = false;
  while (sent < data.size() && !failed) {
    uint32_t done = 0;
    failed = !SendMessages(fd[0], data.data() + sent, static_cast<uint32_t>(data.size()) - sent, kBlock, &done);
    EXPECT_EQ(done % kBlock, 0u);
    sent += done;
  }
  ASSERT_TRUE(failed) << "a local socket holds less than 256 KiB by default";
  EXPECT_EQ(GetLastError(), kErrorTimeout);
  EXPECT_GT(sent, 0u);
  std::string got;
  for (std::string m = Next(); m != "<none>"; m = Next()) {
    EXPECT_EQ(m.size(), kBlock);
    got += m;
  }
  EXPECT_EQ(got.size(), sent);
  EXPECT_TRUE(got == data.substr(0, sent));
}

TEST_F(MessageBatchTest, ASendToAGonePeerIsABrokenPipe) {
  close(fd[1]);
  fd[1] = -1;
  const std::string data(3 * kBlock, 'x');
  uint32_t done = 1;
  EXPECT_FALSE(SendMessages(fd[0], data.data(), static_cast<uint32_t>(data.size()), kBlock, &done));
  EXPECT_EQ(GetLastError(), kErrorBrokenPipe);
  EXPECT_EQ(done, 0u);
}

}  // namespace korvo::platform
