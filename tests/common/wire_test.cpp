#include "common/wire.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <thread>
#include <string>
#include <vector>

#include "common/status_codes.h"
#include "platform/lasterror.h"
#include "tests/support/sandbox.h"

namespace korvo {

namespace {

std::vector<uint8_t> Header(uint32_t tag, uint32_t length, uint8_t flags = 0, uint8_t sequence = 0) {
  std::vector<uint8_t> b(12);
  WireHeader(flags, sequence).Pack(tag, length, b.data());
  return b;
}

// A connected client link and server link on a real pipe, with raw access to
// both channels for what a well-behaved peer would never send.
class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(listener.Listen(ServerPipe::kRuntimeClass), 1);
    ASSERT_EQ(client.Open("."), 1);
    auto session = std::make_unique<ServerPipe>();
    ASSERT_EQ(listener.WaitForClient(), 1);
    ASSERT_EQ(listener.HandOver(*session), 1);
    server.SetChannel(std::move(session));
  }
  void TearDown() override { ClientPipeChannel::OverrideTimeouts(std::nullopt, std::nullopt); }

  static void Raw(MessageLink& from, const std::vector<uint8_t>& bytes) {
    uint32_t done = 0;
    ASSERT_EQ(from.GetChannel()->Send(bytes.data(), static_cast<uint32_t>(bytes.size()), &done), 1);
  }
  static void Raw(MessageLink& from, const std::string& bytes) {
    Raw(from, std::vector<uint8_t>(bytes.begin(), bytes.end()));
  }
  // The next message on the link's channel, as raw bytes.
  static std::string Next(MessageLink& at) {
    char buf[8192];
    uint32_t done = 0;
    if (!at.GetChannel()->Receive(buf, sizeof buf, &done)) return "<none>";
    return std::string(buf, done);
  }

  test::Sandbox sandbox;
  ServerMessageLink listener;
  ClientMessageLink client;
  ServerMessageLink server;
};

}  // namespace

TEST(WireHeaderTest, CheckByteMakesTheHeaderXorTo0x35) {
  struct Case {
    uint32_t tag, length;
    uint8_t flags, sequence;
  } cases[] = {{0, 0, 0, 0}, {2000, 7, 0, 0}, {0xFFFFFFFF, 0xFFFFFFFF, 1, 0xFF}, {10, 4096, 0, 3}};
  for (const auto& c : cases) {
    uint8_t b[12];
    WireHeader(c.flags, c.sequence).Pack(c.tag, c.length, b);
    uint8_t x = 0;
    for (uint8_t v : b) x ^= v;
    EXPECT_EQ(x, 0x35) << c.tag;
    EXPECT_EQ(b[7], 0);
    EXPECT_EQ(b[4], c.flags);
    EXPECT_EQ(b[6], c.sequence);
    WireHeader reader(0, c.sequence);
    ASSERT_TRUE(reader.Unpack(b));
    EXPECT_EQ(reader.tag(), c.tag);
    EXPECT_EQ(reader.length(), c.length);
    // Any single flipped bit breaks the check.
    for (int bit = 0; bit < 96; ++bit) {
      uint8_t bad[12];
      std::memcpy(bad, b, 12);
      bad[bit / 8] ^= static_cast<uint8_t>(1 << (bit % 8));
      EXPECT_FALSE(WireHeader(0, c.sequence).Unpack(bad)) << bit;
    }
  }
  // The bytes of (2000, 5): tag D0 07 00 00, flags 0, check, seq 0, zero 0, length 05 00 00 00.
  uint8_t b[12];
  WireHeader().Pack(2000, 5, b);
  EXPECT_EQ(b[5], 0x35 ^ 0xD0 ^ 0x07 ^ 0x05);
}

TEST(WireHeaderTest, SequenceIsCheckedOnlyWhenTheFlagAsksForIt) {
  struct Case {
    uint8_t flags, sent, expected;
    bool accepted;
  } cases[] = {
      {0, 0, 0, true}, {0, 9, 0, true}, {1, 0, 0, true}, {1, 5, 0, false}, {1, 5, 5, true}, {3, 1, 2, false},
  };
  for (const auto& c : cases) {
    uint8_t b[12];
    WireHeader(c.flags, c.sent).Pack(7, 0, b);
    EXPECT_EQ(WireHeader(0, c.expected).Unpack(b), c.accepted) << int(c.flags) << " " << int(c.sent);
  }
}

TEST_F(LinkTest, HeaderObjectsCountTheirMessages) {
  WireHeader out(WireHeader::kFlagCheckSequence, 0);
  WireHeader in(0, 0);
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(out.Send(*client.GetChannel(), 4, 0), 1);
    ASSERT_EQ(in.Receive(*server.GetChannel()), 1) << i;
  }
  EXPECT_EQ(out.sequence(), 3);
  EXPECT_EQ(in.sequence(), 3);
  // Out of step: the flag makes the receiver refuse it.
  WireHeader stale(WireHeader::kFlagCheckSequence, 0);
  ASSERT_EQ(stale.Send(*client.GetChannel(), 4, 0), 1);
  EXPECT_EQ(in.Receive(*server.GetChannel()), 0);
}

TEST_F(LinkTest, TextPayloadsCountTheirNul) {
  client.SendText(7010, "");
  client.SendText(7010, nullptr);
  client.SendText(7010, "ab");
  EXPECT_EQ(Next(server), std::string(reinterpret_cast<const char*>(Header(7010, 1).data()), 12));
  EXPECT_EQ(Next(server), std::string(1, '\0'));
  EXPECT_EQ(Next(server), std::string(reinterpret_cast<const char*>(Header(7010, 0).data()), 12));
  // No payload write for the null text: the next message is the next header.
  EXPECT_EQ(Next(server), std::string(reinterpret_cast<const char*>(Header(7010, 3).data()), 12));
  EXPECT_EQ(Next(server), std::string("ab\0", 3));

  server.SendText(0, "");
  server.SendText(0, nullptr);
  ReceivedMessage m;
  ASSERT_EQ(client.Receive(&m), 0u);
  EXPECT_EQ(m.length, 1u);
  ASSERT_NE(m.payload, nullptr);
  EXPECT_EQ(m.Text(), "");
  ASSERT_EQ(client.Receive(&m), 0u);
  EXPECT_EQ(m.length, 0u);
  EXPECT_EQ(m.payload, nullptr);
}

TEST_F(LinkTest, AnOddTagIsAValueAndLeavesWhatFollows) {
  Raw(server, Header(2001, 77));
  server.SendText(0, "next");
  ReceivedMessage m;
  ASSERT_EQ(client.Receive(&m), 0u);
  EXPECT_EQ(m.tag, 2001u);
  EXPECT_EQ(m.length, 77u);
  EXPECT_EQ(m.payload, nullptr);
  ASSERT_EQ(client.Receive(&m), 0u);
  EXPECT_EQ(m.Text(), "next");
}

TEST_F(LinkTest, BadInputGetsTheSidesGetMessageStatus) {
  auto h = [](uint32_t tag, uint32_t length, uint8_t flags = 0, uint8_t seq = 0) {
    auto b = Header(tag, length, flags, seq);
    return std::string(b.begin(), b.end());
  };
  std::string badCheck = h(0, 0);
  badCheck[5] ^= 1;
  struct Case {
    const char* what;
    std::vector<std::string> messages;
    bool accepted;
  } cases[] = {
      {"check byte", {badCheck}, false},
      {"sequence out of step", {h(0, 0, 1, 5)}, false},
      {"sequence flag in step", {h(0, 0, 1, 0)}, true},
      {"payload above 4096", {h(4, 4097), std::string(4097, 'x')}, false},
      {"payload of 4096", {h(4, 4096), std::string(4096, 'x')}, true},
      {"short header", {h(0, 0).substr(0, 11)}, false},
      {"header and payload in one message", {h(4, 2) + "ab"}, false},
      {"short payload", {h(4, 10), "12345"}, false},
      {"long payload", {h(4, 5), "0123456789"}, false},
      {"file header above 4096", {h(10, 5000)}, true},
      {"empty message", {""}, false},
  };
  for (bool serverSide : {false, true}) {
    for (const auto& c : cases) {
      MessageLink& from = serverSide ? static_cast<MessageLink&>(client) : server;
      MessageLink& to = serverSide ? static_cast<MessageLink&>(server) : client;
      for (const auto& msg : c.messages) {
        // Write refuses 0 bytes, so an empty message goes out directly.
        if (msg.empty()) ASSERT_EQ(send(from.GetChannel()->GetHandle(), "", 0, MSG_NOSIGNAL), 0);
        else Raw(from, msg);
      }
      // A marker message keeps the cases apart.
      from.SendText(88, "end");
      ReceivedMessage m;
      Status s = to.Receive(&m);
      Status refused = serverSide ? kStatusGetMessageFromClient : kStatusGetMessageFromServer;
      EXPECT_EQ(s, c.accepted ? 0u : refused) << c.what << (serverSide ? " (server)" : " (client)");
      if (s == 0 && m.tag != 88) {
        ASSERT_EQ(to.Receive(&m), 0u) << c.what;
      }
      // Skip whatever the bad case left until the marker.
      while (m.tag != 88 || m.Text() != "end") ASSERT_NE(to.Receive(&m), kStatusDisconnect) << c.what;
    }
  }
}

TEST_F(LinkTest, APayloadWithoutNulStillEnds) {
  auto b = Header(0, 3);
  Raw(server, b);
  Raw(server, std::string("abc"));
  ReceivedMessage m;
  ASSERT_EQ(client.Receive(&m), 0u);
  EXPECT_EQ(m.Text(), "abc");
  EXPECT_EQ(m.payload[3], 0);
  uint32_t word = 0;
  EXPECT_FALSE(m.Word(&word));
}

TEST_F(LinkTest, ABrokenPipeIsADisconnectOnBothSides) {
  ReceivedMessage m;
  client.Close();
  EXPECT_EQ(server.Receive(&m), kStatusDisconnect);
  try {
    server.SendText(0, "late");
    ADD_FAILURE() << "no exception";
  } catch (const ClientServerExchangeException& e) {
    EXPECT_EQ(e.status, kStatusPutBlockToClient);
  }
  ServerMessageLink other;
  ASSERT_EQ(client.Open("."), 1);
  auto session = std::make_unique<ServerPipe>();
  ASSERT_EQ(listener.WaitForClient(), 1);
  ASSERT_EQ(listener.HandOver(*session), 1);
  other.SetChannel(std::move(session));
  other.Close();
  EXPECT_EQ(client.Receive(&m), kStatusDisconnect);
  try {
    client.SendData(2010, "\x1e\x01\0\0", 4);
    ADD_FAILURE() << "no exception";
  } catch (const ClientServerExchangeException& e) {
    EXPECT_EQ(e.status, kStatusPutBlockToServer);
  }
  // A closed link: nothing to read, nothing to write.
  client.Close();
  EXPECT_EQ(client.Close(), 0);
  EXPECT_EQ(client.Receive(&m), kStatusGetMessageFromServer);
  EXPECT_THROW(client.SendText(0, ""), ClientServerExchangeException);
  EXPECT_EQ(client.SendFile("x"), kStatusPutFileToServer);
  EXPECT_EQ(client.ReceiveFile("x"), kStatusGetFileFromServer);
}

TEST_F(LinkTest, AClientReadTimesOutAsAFailedReceive) {
  ClientPipeChannel::OverrideTimeouts(1, std::nullopt);
  ASSERT_EQ(client.Open("."), 1);  // picks up the time-out
  auto session = std::make_unique<ServerPipe>();
  ASSERT_EQ(listener.WaitForClient(), 1);
  ASSERT_EQ(listener.HandOver(*session), 1);
  server.SetChannel(std::move(session));
  ReceivedMessage m;
  EXPECT_EQ(client.Receive(&m), kStatusGetMessageFromServer);
}

TEST_F(LinkTest, ErrorReplyCarriesCodeAndText) {
  server.SendError(kStatusClientVersionIncompatible);
  ReceivedMessage m;
  ASSERT_EQ(client.Receive(&m), 0u);
  EXPECT_EQ(m.tag, kTagError);
  std::string expected = std::to_string(static_cast<int32_t>(kStatusClientVersionIncompatible)) + "\x1B" +
                         GetStatusText(kStatusClientVersionIncompatible) + "\x1B";
  EXPECT_EQ(m.Text(), expected);
  EXPECT_EQ(m.length, expected.size() + 1);
  EXPECT_LE(m.length, kErrorReplySize);
}

TEST_F(LinkTest, FilesTravelWholeInBothDirections) {
  auto src = sandbox.path("src");
  auto dst = sandbox.path("dst");
  for (size_t size : {size_t{0}, size_t{1}, size_t{4095}, size_t{4096}, size_t{8192}, size_t{3 * 4096 + 5}}) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 131) >> 3);
    test::Sandbox::writeFile(src, data);
    for (bool toServer : {true, false}) {
      MessageLink& from = toServer ? static_cast<MessageLink&>(client) : server;
      MessageLink& to = toServer ? static_cast<MessageLink&>(server) : client;
      test::Sandbox::writeFile(dst, "older and longer contents");
      Status received = 1;
      std::thread t([&] { received = to.ReceiveFile(dst.c_str()); });
      EXPECT_EQ(from.SendFile(src.c_str()), 0u) << size;
      t.join();
      EXPECT_EQ(received, 0u) << size;
      EXPECT_TRUE(test::Sandbox::readFile(dst) == data) << size;
    }
  }
}

TEST_F(LinkTest, AFileOfWholeBlocksIsHeaderAndBlocksOnly) {
  for (size_t blocks : {size_t{0}, size_t{1}, size_t{3}}) {
    auto src = sandbox.path("src");
    test::Sandbox::writeFile(src, std::string(blocks * 4096, 'k'));
    Status sent = 1;
    std::thread t([&] { sent = client.SendFile(src.c_str()); });
    auto h = Header(kTagData, static_cast<uint32_t>(blocks * 4096));
    EXPECT_EQ(Next(server), std::string(h.begin(), h.end()));
    for (size_t i = 0; i < blocks; ++i) EXPECT_EQ(Next(server), std::string(4096, 'k'));
    Raw(server, Header(kTagOk, 0));
    t.join();
    EXPECT_EQ(sent, 0u);
  }
}

// Files sent one after the other, with no answer awaited in between: each
// receive takes its own blocks, in batches, and nothing of what follows.
TEST_F(LinkTest, FilesBackToBackAreEachReceivedWhole) {
  const std::string first(20 * 4096 + 7, 'f');
  const std::string second(2 * 4096, 's');
  std::thread sender([&] {
    for (const std::string* file : {&first, &second}) {
      Raw(client, Header(kTagData, static_cast<uint32_t>(file->size())));
      for (size_t at = 0; at < file->size(); at += 4096) Raw(client, file->substr(at, 4096));
    }
    client.SendText(7000, "after");
  });
  const auto a = sandbox.path("a");
  const auto b = sandbox.path("b");
  EXPECT_EQ(server.ReceiveFile(a.c_str()), 0u);
  EXPECT_EQ(server.ReceiveFile(b.c_str()), 0u);
  ReceivedMessage m;
  EXPECT_EQ(server.Receive(&m), 0u);
  sender.join();
  EXPECT_TRUE(test::Sandbox::readFile(a) == first);
  EXPECT_TRUE(test::Sandbox::readFile(b) == second);
  EXPECT_EQ(m.tag, 7000u);
  EXPECT_EQ(m.Text(), "after");
}

// A receiver that takes at most so many bytes refuses a longer file on its
// announcement: nothing of it is read, no file is made.
TEST_F(LinkTest, AFileAnnouncedBeyondTheMostIsRefusedUnread) {
  auto dst = sandbox.path("dst");
  const std::string block(4096, 'x');
  uint32_t announced = 1;
  Raw(client, Header(kTagData, 4097));
  Raw(client, block);
  EXPECT_EQ(server.ReceiveFile(dst.c_str(), 4096, &announced), kStatusGetFileFromClient);
  EXPECT_EQ(announced, 4097u);
  EXPECT_FALSE(std::filesystem::exists(dst));
  WireHeader answer;
  ASSERT_TRUE(answer.Receive(*client.GetChannel()));
  EXPECT_EQ(answer.tag(), kTagError);
  EXPECT_EQ(Next(server), block) << "the data stays unread";
  // At the most it is taken.
  Raw(client, Header(kTagData, 4096));
  Raw(client, block);
  EXPECT_EQ(server.ReceiveFile(dst.c_str(), 4096, &announced), 0u);
  EXPECT_EQ(announced, 4096u);
  EXPECT_TRUE(test::Sandbox::readFile(dst) == block);
}

TEST_F(LinkTest, FileTransferFailures) {
  auto dst = sandbox.path("dst");
  auto answer = [&](MessageLink& at) {
    WireHeader h;
    return h.Receive(*at.GetChannel()) ? static_cast<int>(h.tag()) : -1;
  };
  // The sender breaks off after one block: the server keeps what came.
  Raw(client, Header(kTagData, 10000));
  Raw(client, std::string(4096, 'a'));
  client.Close();
  EXPECT_EQ(server.ReceiveFile(dst.c_str()), kStatusGetFileFromClient);
  EXPECT_TRUE(test::Sandbox::readFile(dst) == std::string(4096, 'a'));
  ASSERT_EQ(client.Open("."), 1);
  auto session = std::make_unique<ServerPipe>();
  ASSERT_EQ(listener.WaitForClient(), 1);
  ASSERT_EQ(listener.HandOver(*session), 1);
  server.SetChannel(std::move(session));

  // Something else than a file: refused with (2, 0).
  server.SendText(kTagOk, "not a file");
  EXPECT_EQ(client.ReceiveFile(dst.c_str()), kStatusGetFileFromServer);
  EXPECT_EQ(answer(server), kTagError);
  // A block that is longer than announced would lose bytes: refused.
  Raw(server, Header(kTagData, 100));
  Raw(server, std::string(200, 'b'));
  EXPECT_EQ(client.ReceiveFile(dst.c_str()), kStatusGetFileFromServer);
  EXPECT_EQ(answer(server), kTagError);
  // A file that cannot be created.
  Raw(server, Header(kTagData, 0));
  EXPECT_EQ(client.ReceiveFile(sandbox.path("no/such/dir/f").c_str()), kStatusGetFileFromServer);
  EXPECT_EQ(answer(server), kTagError);

  // Sending: a missing file sends nothing; a refusing receiver fails it.
  EXPECT_EQ(client.SendFile(sandbox.path("missing").c_str()), kStatusPutFileToServer);
  auto src = sandbox.path("src");
  test::Sandbox::writeFile(src, "abc");
  Raw(server, Header(kTagError, 0));  // the answer may wait in the pipe
  EXPECT_EQ(client.SendFile(src.c_str()), kStatusPutFileToServer);
  EXPECT_EQ(Next(server).size(), 12u);
  EXPECT_EQ(Next(server), "abc");
  Raw(client, Header(kTagError, 0));
  EXPECT_EQ(server.SendFile(src.c_str()), kStatusPutFileToClient);
}

// Sending only reads the file: a login that may read a fax file but not
// write it (0444, or another login's file shared read-only) sends it all
// the same, from either side.
TEST_F(LinkTest, AFileTheSenderMayOnlyReadIsSent) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to send as another login";
  std::filesystem::permissions(sandbox.root(), std::filesystem::perms(0755));
  auto src = sandbox.path("readonly");
  test::Sandbox::writeFile(src, std::string(5000, 'r'));
  std::filesystem::permissions(src, std::filesystem::perms(0444));
  auto dst = sandbox.path("dst");
  for (bool toServer : {true, false}) {
    MessageLink& from = toServer ? static_cast<MessageLink&>(client) : server;
    MessageLink& to = toServer ? static_cast<MessageLink&>(server) : client;
    Status received = 1;
    std::thread t([&] { received = to.ReceiveFile(dst.c_str()); });
    Status sent = 1;
    // Only this thread becomes nobody; the raw call leaves the others root.
    std::thread sender([&] {
      ASSERT_EQ(syscall(SYS_setresuid, -1, 65534, -1), 0);
      sent = from.SendFile(src.c_str());
    });
    sender.join();
    // A refused send leaves the receiver waiting for the file.
    if (sent != 0) from.Close();
    t.join();
    ASSERT_EQ(sent, 0u) << toServer;
    EXPECT_EQ(received, 0u) << toServer;
    EXPECT_EQ(test::Sandbox::readFile(dst), std::string(5000, 'r')) << toServer;
  }
}

TEST_F(LinkTest, AFileTooLargeForTheLengthFieldIsNotSent) {
  // Sparse: costs no disk space.
  auto big = sandbox.path("big");
  test::Sandbox::writeFile(big, "");
  std::filesystem::resize_file(big, (uint64_t{1} << 32) + 1);
  EXPECT_EQ(client.SendFile(big.c_str()), kStatusPutFileToServer);
  // Nothing went out: the next message is the marker.
  client.SendText(88, "end");
  ReceivedMessage m;
  ASSERT_EQ(server.Receive(&m), 0u);
  EXPECT_EQ(m.tag, 88u);
}

TEST(ServerHandshakeTest, TakesUserAndVersionAndAnswersTheVersionQuery) {
  test::Sandbox sandbox;
  ServerMessageLink listener;
  ASSERT_EQ(listener.Listen(ServerPipe::kRuntimeClass), 1);
  ClientMessageLink client;
  ASSERT_EQ(client.Open("."), 1);
  auto session = std::make_unique<ServerPipe>();
  ASSERT_EQ(listener.WaitForClient(), 1);
  ASSERT_EQ(listener.HandOver(*session), 1);
  ServerMessageLink server(std::move(session));

  ServerHandshake hs;
  EXPECT_EQ(hs.userName(), "~unknown");
  EXPECT_FALSE(hs.ClientVersionAccepted());
  std::string longName(40, 'u');
  struct Case {
    uint32_t tag;
    std::string payload;
    bool handled;
  } cases[] = {
      {kTagIntroduce, longName, true},
      {kTagReportClientVersion, std::string("\x13\x01\0\0", 4), true},
      {kTagGetServerVersion, "", true},
      {7000, "0", false},
  };
  for (const auto& c : cases) {
    client.SendData(c.tag, c.payload.data(), static_cast<uint32_t>(c.payload.size()));
    ReceivedMessage m;
    ASSERT_EQ(server.Receive(&m), 0u);
    EXPECT_EQ(hs.Handle(server, m), c.handled) << c.tag;
  }
  EXPECT_EQ(hs.userName(), "~unknown") << "a name too long for a user record is never cut to one";
  EXPECT_EQ(hs.clientVersion(), 0x113u);
  EXPECT_FALSE(hs.ClientVersionAccepted());
  ReceivedMessage reply;
  ASSERT_EQ(client.Receive(&reply), 0u);
  EXPECT_EQ(reply.tag, kTagOk);
  uint32_t version = 0;
  ASSERT_TRUE(reply.Word(&version));
  EXPECT_EQ(version, kProtocolVersion);
  EXPECT_EQ(reply.length, 4u);

  client.SendData(kTagReportClientVersion, "\x14\x01\0\0", 4);
  ReceivedMessage m;
  ASSERT_EQ(server.Receive(&m), 0u);
  hs.Handle(server, m);
  EXPECT_TRUE(hs.ClientVersionAccepted());
}

TEST_F(LinkTest, AnInterruptedSessionReceiveIsADisconnect) {
  Status status = 0;
  std::thread t([&] {
    ReceivedMessage m;
    status = server.Receive(&m);
  });
  server.Interrupt();
  t.join();
  EXPECT_EQ(status, kStatusDisconnect);
}

TEST(ListenTest, TheStopFlagAndUnusableClassesEndTheListen) {
  test::Sandbox sandbox;
  std::atomic<bool> stop{true};
  ServerMessageLink link;
  EXPECT_EQ(link.Listen(ServerPipe::kRuntimeClass, &stop), 0);
  EXPECT_EQ(link.GetChannel(), nullptr);
  EXPECT_EQ(link.Listen(Socket::kRuntimeClass), 0);
  EXPECT_EQ(link.Listen(Stream::kRuntimeClass), 0);  // not a network channel
  EXPECT_EQ(link.GetChannel(), nullptr);
  stop = false;
  EXPECT_EQ(link.Listen(ServerPipe::kRuntimeClass, &stop), 1);
  int waited = -1;
  std::thread t([&] { waited = link.WaitForClient(); });
  link.Interrupt();
  t.join();
  EXPECT_EQ(waited, 0);
}

}  // namespace korvo
