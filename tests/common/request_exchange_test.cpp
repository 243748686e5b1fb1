#include "common/request_exchange.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "common/status_codes.h"
#include "tests/support/sandbox.h"

namespace korvo {

namespace {

// A server on the real pipe: one session at a time, the server side of the
// handshake, then each request handed to the test's handler. It records what
// it received and how each session ended.
class TestServer {
 public:
  using Handler = std::function<void(ServerMessageLink&, const ReceivedMessage&)>;

  explicit TestServer(Handler handler, uint32_t version = kProtocolVersion) : handler_(std::move(handler)) {
    version_ = version;
    if (!listener_.Listen(ServerPipe::kRuntimeClass, &stop_)) throw std::runtime_error("listen failed");
    thread_ = std::thread([this] { Loop(); });
  }
  ~TestServer() { Stop(); }
  // Ends the loop and joins it; what it saw is complete afterwards.
  void Stop() {
    stop_ = true;
    listener_.Interrupt();
    if (thread_.joinable()) thread_.join();
  }

  struct Seen {
    uint32_t tag;
    std::string payload;
  };
  std::vector<Seen> seen() {
    std::lock_guard lock(mutex_);
    return seen_;
  }
  std::vector<Status> endings() {
    std::lock_guard lock(mutex_);
    return endings_;
  }
  std::string user() {
    std::lock_guard lock(mutex_);
    return user_;
  }

 private:
  void Loop() {
    while (!stop_) {
      auto channel = std::make_unique<ServerPipe>();
      if (!listener_.WaitForClient() || !listener_.HandOver(*channel)) continue;
      ServerMessageLink session(std::move(channel));
      ServerHandshake hs;
      hs.serverVersion = version_;
      Status end = 0;
      try {
        for (;;) {
          ReceivedMessage m;
          if ((end = session.Receive(&m)) != 0) break;
          {
            std::lock_guard lock(mutex_);
            seen_.push_back({m.tag, m.payload ? std::string(reinterpret_cast<const char*>(m.payload), m.length) : ""});
          }
          if (hs.Handle(session, m)) continue;
          if (!hs.ClientVersionAccepted()) {
            session.SendError(kStatusClientVersionIncompatible);
            continue;
          }
          {
            std::lock_guard lock(mutex_);
            user_ = hs.userName();
          }
          handler_(session, m);
        }
      } catch (const ClientServerExchangeException& e) {
        end = e.status;
      }
      std::lock_guard lock(mutex_);
      endings_.push_back(end);
    }
  }

  Handler handler_;
  uint32_t version_;
  std::atomic<bool> stop_{false};
  ServerMessageLink listener_;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<Seen> seen_;
  std::vector<Status> endings_;
  std::string user_;
};

class ExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override { RequestExchange::SetDisconnectPause(std::chrono::milliseconds(0)); }
  void TearDown() override {
    RequestExchange::SetDisconnectPause(std::chrono::milliseconds(100));
    ClientPipeChannel::OverrideTimeouts(std::nullopt, std::nullopt);
  }
  test::Sandbox sandbox;
};

void RawError(ServerMessageLink& link, const std::string& payload) { link.SendText(kTagError, payload.c_str()); }

}  // namespace

TEST_F(ExchangeTest, APlainRequestRunsTheHandshakeAndGetsItsReply) {
  TestServer server([](ServerMessageLink& link, const ReceivedMessage& m) {
    link.SendText(kTagOk, ("echo:" + std::string(m.Text())).c_str());
  });
  RequestExchange exchange("alice");
  ReceivedMessage reply;
  RequestResult r = exchange.Run(".", 7540, "bob", &reply);
  EXPECT_EQ(r.status, 0u);
  EXPECT_EQ(r.text, "");
  EXPECT_EQ(reply.tag, kTagOk);
  EXPECT_EQ(reply.Text(), "echo:bob");

  RequestExchange noPayload("alice");
  EXPECT_EQ(noPayload.Run(".", 2020, nullptr, &reply).status, 0u);
  EXPECT_EQ(reply.Text(), "echo:");

  auto seen = server.seen();
  ASSERT_EQ(seen.size(), 8u);
  EXPECT_EQ(seen[0].tag, kTagIntroduce);
  EXPECT_EQ(seen[0].payload, std::string("alice\0", 6));
  EXPECT_EQ(seen[1].tag, kTagGetServerVersion);
  EXPECT_EQ(seen[1].payload, "");
  EXPECT_EQ(seen[2].tag, kTagReportClientVersion);
  EXPECT_EQ(seen[2].payload, std::string("\x1e\x01\0\0", 4));
  EXPECT_EQ(seen[3].tag, 7540u);
  EXPECT_EQ(seen[3].payload, std::string("bob\0", 4));
  EXPECT_EQ(seen[7].tag, 2020u);
  EXPECT_EQ(seen[7].payload, "");  // no payload for a null text
  EXPECT_EQ(server.user(), "alice");
  // Each request had its own connection, closed by the client.
  server.Stop();
  EXPECT_EQ(server.endings(), (std::vector<Status>{kStatusDisconnect, kStatusDisconnect}));
}

TEST_F(ExchangeTest, ServerVersionBelow120IsRefusedBeforeTheRequest) {
  struct Case {
    uint32_t version;
    Status status;
  } cases[] = {{0x0113, kStatusServerVersionIncompatible}, {0x0114, 0}, {0x011E, 0}, {0, kStatusServerVersionIncompatible}};
  for (const auto& c : cases) {
    TestServer server([](ServerMessageLink& link, const ReceivedMessage&) { link.SendData(kTagOk, nullptr, 0); },
                      c.version);
    RequestExchange exchange("u");
    ReceivedMessage reply;
    RequestResult r = exchange.Run(".", 3040, nullptr, &reply);
    EXPECT_EQ(r.status, c.status) << std::hex << c.version;
    if (c.status) {
      EXPECT_EQ(r.text, GetStatusText(c.status));
    }
    bool requestSent = false;
    for (const auto& s : server.seen()) requestSent |= s.tag == 3040;
    EXPECT_EQ(requestSent, c.status == 0) << std::hex << c.version;
  }
}

TEST_F(ExchangeTest, ErrorRepliesBecomeTheServersStatusAndText) {
  const std::string denied = std::to_string(static_cast<int32_t>(kStatusNoPermission));
  struct Case {
    const char* what;
    std::function<void(ServerMessageLink&)> reply;
    Status status;
    std::string text;
  } cases[] = {
      {"error reply",
       [](ServerMessageLink& l) { l.SendError(kStatusNoPermission); },
       kStatusNoPermission,
       GetStatusText(kStatusServerErrorIndicationText) + "\n" + GetStatusText(kStatusNoPermission)},
      {"own text", [&](ServerMessageLink& l) { RawError(l, denied + "\x1B" "Busy here\x1B"); },
       kStatusNoPermission, GetStatusText(kStatusServerErrorIndicationText) + "\nBusy here"},
      {"code 0", [](ServerMessageLink& l) { RawError(l, "0\x1B" "text\x1B"); }, kStatusServerErrorIndication,
       GetStatusText(kStatusServerErrorIndication)},
      {"empty text", [](ServerMessageLink& l) { RawError(l, "5\x1B\x1B"); }, kStatusServerErrorIndication,
       GetStatusText(kStatusServerErrorIndication)},
      {"no payload", [](ServerMessageLink& l) { l.SendData(kTagError, nullptr, 0); }, kStatusServerErrorIndication,
       GetStatusText(kStatusServerErrorIndication)},
      {"one field", [](ServerMessageLink& l) { RawError(l, "17"); }, kStatusServerErrorIndication,
       GetStatusText(kStatusServerErrorIndication)},
      {"other tag", [](ServerMessageLink& l) { l.SendText(4, "x"); }, kStatusServerWrongMessage,
       GetStatusText(kStatusServerWrongMessage)},
      {"no reply", [](ServerMessageLink& l) { l.Close(); }, kStatusGetMessageFromServer,
       GetStatusText(kStatusGetMessageFromServer)},
  };
  for (const auto& c : cases) {
    TestServer server([&](ServerMessageLink& l, const ReceivedMessage&) { c.reply(l); });
    RequestExchange exchange("u");
    ReceivedMessage reply;
    RequestResult r = exchange.Run(".", 7510, "rec", &reply);
    EXPECT_EQ(r.status, c.status) << c.what;
    EXPECT_EQ(r.text, c.text) << c.what;
  }
}

TEST_F(ExchangeTest, AVersionReplyThatIsNotOneIsAWrongMessage) {
  struct Case {
    std::function<void(ServerMessageLink&)> reply;
    Status status;
  } cases[] = {
      {[](ServerMessageLink& l) { l.SendData(kTagOk, "\x1e\x01", 2); }, kStatusServerWrongMessage},
      {[](ServerMessageLink& l) { l.SendError(kStatusServerTooBusy); }, kStatusServerTooBusy},
      {[](ServerMessageLink& l) { l.Close(); }, kStatusGetMessageFromServer},
  };
  for (const auto& c : cases) {
    // A raw server that answers 2140 itself.
    ServerMessageLink listener;
    ASSERT_EQ(listener.Listen(ServerPipe::kRuntimeClass), 1);
    std::thread t([&] {
      auto ch = std::make_unique<ServerPipe>();
      if (!listener.WaitForClient() || !listener.HandOver(*ch)) return;
      ServerMessageLink session(std::move(ch));
      ReceivedMessage m;
      while (session.Receive(&m) == 0 && m.tag != kTagGetServerVersion) {
      }
      c.reply(session);
      while (session.Receive(&m) == 0) {
      }
    });
    RequestExchange exchange("u");
    RequestResult r = exchange.Run(".", 3040, nullptr, nullptr);
    t.join();
    EXPECT_EQ(r.status, c.status);
  }
}

TEST_F(ExchangeTest, NoServerMeansNoConnection) {
  RequestExchange exchange("u");
  ReceivedMessage reply;
  RequestResult r = exchange.Run(".", 2020, nullptr, &reply);
  EXPECT_EQ(r.status, kStatusCannotConnect);
  EXPECT_EQ(r.text, GetStatusText(kStatusCannotConnect));
  RequestExchange remote("u");
  EXPECT_EQ(remote.Run("faraway-host", 2020, nullptr, &reply).status, kStatusCannotConnect);
}

TEST_F(ExchangeTest, AServerThatStopsAnsweringTimesOut) {
  ClientPipeChannel::OverrideTimeouts(1, std::nullopt);
  TestServer server([](ServerMessageLink&, const ReceivedMessage&) {});
  RequestExchange exchange("u");
  EXPECT_EQ(exchange.Run(".", 2020, nullptr, nullptr).status, kStatusGetMessageFromServer);
}

TEST_F(ExchangeTest, AnOldClientIsRefusedByTheServer) {
  TestServer server([](ServerMessageLink& l, const ReceivedMessage&) { l.SendData(kTagOk, nullptr, 0); });
  ClientMessageLink link;
  ASSERT_EQ(link.Open("."), 1);
  link.SendText(kTagIntroduce, "old");
  link.SendData(kTagReportClientVersion, "\x13\x01\0\0", 4);
  link.SendText(2020, nullptr);
  ReceivedMessage m;
  ASSERT_EQ(link.Receive(&m), 0u);
  RequestResult r = BuildRequestResult(kStatusServerErrorOrWrongMessage, m);
  EXPECT_EQ(r.status, kStatusClientVersionIncompatible);
}

TEST_F(ExchangeTest, ReceiveFileExchangeWritesTheServersFile) {
  auto served = sandbox.path("served");
  test::Sandbox::writeFile(served, std::string(10000, 'L'));
  TestServer server([&](ServerMessageLink& l, const ReceivedMessage& m) {
    if (m.Text() == "refuse") return l.SendError(kStatusNoPermission);
    l.SendData(kTagOk, nullptr, 0);
    l.SendFile(served.c_str());
  });
  auto list = sandbox.path("list");
  ReceiveFileExchange exchange("u", list.string());
  EXPECT_EQ(exchange.Run(".", 7000, "0", nullptr).status, 0u);
  EXPECT_EQ(test::Sandbox::readFile(list), std::string(10000, 'L'));

  auto other = sandbox.path("other");
  ReceiveFileExchange refused("u", other.string());
  EXPECT_EQ(refused.Run(".", 7000, "refuse", nullptr).status, kStatusNoPermission);
  EXPECT_FALSE(std::filesystem::exists(other));
}

TEST_F(ExchangeTest, SendFilesExchangeSendsBothFilesInOrder) {
  auto got1 = sandbox.path("got1");
  auto got2 = sandbox.path("got2");
  TestServer server([&](ServerMessageLink& l, const ReceivedMessage&) {
    l.SendData(kTagOk, nullptr, 0);
    if (l.ReceiveFile(got1.c_str()) || l.ReceiveFile(got2.c_str())) return;
    l.SendData(kTagOk, nullptr, 0);
  });
  auto header = sandbox.path("header");
  auto image = sandbox.path("image");
  test::Sandbox::writeFile(header, "header bytes");
  test::Sandbox::writeFile(image, std::string(3 * 4096, 'I'));
  SendFilesExchange exchange("u", header.string(), image.string());
  ReceivedMessage reply;
  EXPECT_EQ(exchange.Run(".", 4000, nullptr, &reply).status, 0u);
  EXPECT_EQ(test::Sandbox::readFile(got1), "header bytes");
  EXPECT_EQ(test::Sandbox::readFile(got2), std::string(3 * 4096, 'I'));

  // A first file that cannot be sent: the second is not sent either.
  std::filesystem::remove(got2);
  SendFilesExchange missing("u", sandbox.path("missing").string(), image.string());
  EXPECT_EQ(missing.Run(".", 4000, nullptr, &reply).status, kStatusPutFileToServer);
  EXPECT_FALSE(std::filesystem::exists(got2));
}

TEST_F(ExchangeTest, ReceiveFilesExchangeTakesBothFilesAndConfirms) {
  auto header = sandbox.path("served-header");
  auto image = sandbox.path("served-image");
  test::Sandbox::writeFile(header, "");
  test::Sandbox::writeFile(image, std::string(4096, 'F'));
  Status confirmed = 1;
  auto h = sandbox.path("h");
  auto i = sandbox.path("i");
  TestServer server([&](ServerMessageLink& l, const ReceivedMessage&) {
    l.SendData(kTagOk, nullptr, 0);
    if (l.SendFile(header.c_str()) || l.SendFile(image.c_str())) return;
    ReceivedMessage m;
    confirmed = l.Receive(&m) == 0 && m.tag == kTagOk && m.length == 0 ? 0 : 1;
  });
  ReceiveFilesExchange exchange("u", h.string(), i.string());
  EXPECT_EQ(exchange.Run(".", 4010, "-1", nullptr).status, 0u);
  server.Stop();
  EXPECT_TRUE(std::filesystem::exists(h));
  EXPECT_EQ(test::Sandbox::readFile(h), "");
  EXPECT_EQ(test::Sandbox::readFile(i), std::string(4096, 'F'));
  EXPECT_EQ(confirmed, 0u);
}

TEST(RequestResultTest, ConstructorsAndThePause) {
  EXPECT_EQ(RequestResult().status, 0u);
  EXPECT_EQ(RequestResult().text, "");
  EXPECT_EQ(RequestResult(kStatusDisconnect).text, GetStatusText(kStatusDisconnect));
  EXPECT_EQ(RequestResult(5, "five").text, "five");
  EXPECT_EQ(BuildRequestResult(0, ReceivedMessage{}).text, "");
  EXPECT_EQ(BuildRequestResult(kStatusPutFileToServer, ReceivedMessage{}).text, GetStatusText(kStatusPutFileToServer));
  EXPECT_EQ(RequestExchange::DisconnectPause(), std::chrono::milliseconds(100));
}

}  // namespace korvo
