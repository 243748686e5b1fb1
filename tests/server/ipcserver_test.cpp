// The IPC server in-process, started by the server object as the last step,
// with real clients over the server socket: rights, versions, suspended
// sessions, transports, who a session's user is, idle clients, many clients.
#include "server/ipcserver.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/faxclient.h"
#include "common/fields.h"
#include "common/request_exchange.h"
#include "common/settings.h"
#include "common/status_codes.h"
#include "common/user_record.h"
#include "platform/eventlog.h"
#include "server/faxserver.h"
#include "tests/support/sandbox.h"

namespace korvo {
namespace {

std::vector<std::string> LogTexts() {
  std::vector<std::string> out;
  platform::EventLog log;
  if (!log.Open("Korvo")) return out;
  log.ReadNewestFirst([&](const platform::EventRecord& r) {
    out.insert(out.begin(), r.strings.empty() ? "" : r.strings[0]);
    return true;
  });
  return out;
}

bool Logged(const std::string& line) {
  auto texts = LogTexts();
  return std::find(texts.begin(), texts.end(), line) != texts.end();
}

// The status of an error reply, or 0 for any other message.
Status ErrorReplyStatus(const ReceivedMessage& m) {
  if (m.tag != kTagError) return 0;
  std::string_view text = m.Text();
  return static_cast<Status>(static_cast<int32_t>(std::stol(std::string(text.substr(0, text.find('\x1B'))))));
}

// One connection driven message by message, as the request exchange drives
// it, so a test can leave steps out or hold the session open.
class RawClient {
 public:
  RawClient() { connected_ = link_.Open(".") != 0; }
  bool connected() const { return connected_; }
  void Introduce(const char* user) { link_.SendText(kTagIntroduce, user); }
  void ReportVersion(uint32_t version) {
    uint8_t w[4] = {uint8_t(version), uint8_t(version >> 8), uint8_t(version >> 16), uint8_t(version >> 24)};
    link_.SendData(kTagReportClientVersion, w, 4);
  }
  // The whole handshake of a current client.
  void Handshake(const char* user) {
    Introduce(user);
    ReportVersion(kProtocolVersion);
  }
  // Sends the code and takes the reply; the status of Receive.
  Status Request(uint32_t code, const char* text = nullptr) {
    link_.SendText(code, text);
    return link_.Receive(&reply_);
  }
  void Send(uint32_t code, const char* text = nullptr) { link_.SendText(code, text); }
  Status Receive() { return link_.Receive(&reply_); }
  const ReceivedMessage& reply() const { return reply_; }
  NetworkChannel* channel() { return link_.GetChannel(); }

 private:
  ClientMessageLink link_;
  ReceivedMessage reply_;
  bool connected_ = false;
};

class IpcServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("NOTIFY_SOCKET");
    root_ = sandbox_.path("root").string();
    ASSERT_EQ(KvWriteRegStr("Server", "RootPath", root_.c_str()), 1);
    ASSERT_EQ(KvWriteRegDword("Server", "TcpIp", 0), 1);
    ASSERT_EQ(KvWriteRegDword("Server", "Pipes", 1), 1);
    RequestExchange::SetDisconnectPause(std::chrono::milliseconds(0));
  }
  void TearDown() override {
    server_.reset();
    RequestExchange::SetDisconnectPause(std::chrono::milliseconds(100));
    ClientPipeChannel::OverrideTimeouts(std::nullopt, std::nullopt);
  }
  // Sessions introduced with another user's name: only root may act for
  // other users here (no login of the test is registered).
  static bool MayActForOthers() { return geteuid() == 0; }
  void Start() {
    int ok = 0;
    server_ = std::make_unique<FaxServer>(&ok);
    ASSERT_EQ(ok, 1);
    ASSERT_NE(g_IpcServer, nullptr);
  }
  static void AddUser(const std::string& name, uint32_t rights) {
    std::string text;
    EncodeFields(&text, {name, "", std::to_string(rights), "", "", "", "", ""}, 8);
    ASSERT_TRUE(g_UserDatabase->AddUser(text)) << name;
  }
  // The rights the server gives a session introduced with the name.
  static RequestResult Permissions(const char* user, std::string* rights) {
    RequestExchange exchange(user);
    ReceivedMessage reply;
    RequestResult r = exchange.Run(".", FaxClient::kGetPermissions, nullptr, &reply);
    if (r.status == 0) *rights = std::string(reply.Text());
    return r;
  }

  test::Sandbox sandbox_;
  std::string root_;
  std::unique_ptr<FaxServer> server_;
};

TEST_F(IpcServerTest, RightsDecideWhichRequestsPass) {
  if (!MayActForOthers()) GTEST_SKIP() << "needs root to act for other users";
  Start();
  AddUser("reader", kRightRegistered);
  AddUser("booker", kRightGlobalBook);  // registered, but without its own boxes
  AddUser("dispatcher", kRightRegistered | kRightDispatch);
  struct Case {
    const char* user;
    uint32_t code;
    Status expect;  // what the handler answers when the rights let it pass
  };
  const Case cases[] = {
      {"stranger", FaxClient::kGetServerVersion, 0},
      {"stranger", FaxClient::kGetServerTime, 0},
      {"stranger", FaxClient::kGetPermissions, 0},
      {"stranger", FaxClient::kIsServerSuspended, 0},
      {"stranger", FaxClient::kGetFax, kStatusNotRegisteredUser},
      {"stranger", FaxClient::kAddUser, kStatusNotRegisteredUser},
      {"reader", FaxClient::kGetFax, kStatusServerErrorIndication},  // no such job
      {"reader", FaxClient::kAddUser, kStatusNoPermission},
      {"reader", 5010, kStatusNoPermission},
      {"reader", FaxClient::kAddAddress, kStatusNoPermission},
      {"booker", FaxClient::kAddAddress, 0},
      {"booker", FaxClient::kGetFax, kStatusNotRegisteredUser},
      {"dispatcher", 5010, 0},
      {"Administrator", FaxClient::kAddUser, kStatusServerErrorIndication},  // no user named
      {"Administrator", 8000, 0},
      // Names are matched exactly, as the system matches logins.
      {"ADMINISTRATOR", 8000, kStatusNotRegisteredUser},
      {"Reader", 5026, kStatusNotRegisteredUser},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.user) + " " + std::to_string(c.code));
    RequestExchange exchange(c.user);
    ReceivedMessage reply;
    EXPECT_EQ(exchange.Run(".", c.code, nullptr, &reply).status, c.expect);
  }
  // A longer name is never cut to the 31 characters of a user name: it is
  // nobody's, not the registered administrator's its first 31 spell.
  AddUser(std::string(31, 'x'), kRightRegistered | kRightAdministration);
  const std::string longName(32, 'x');
  for (uint32_t code : {uint32_t(FaxClient::kGetFax), 8000u}) {
    RequestExchange longer(longName.c_str());
    ReceivedMessage reply;
    EXPECT_EQ(longer.Run(".", code, nullptr, &reply).status, kStatusNotRegisteredUser) << code;
  }
  std::string rights;
  ASSERT_EQ(Permissions(longName.c_str(), &rights).status, 0u);
  EXPECT_EQ(rights, "0");
  server_.reset();  // every session has written its lines
  const auto log = LogTexts();
  auto has = [&](const std::string& line) { return std::find(log.begin(), log.end(), line) != log.end(); };
  EXPECT_TRUE(has("[~unknown] User has no permissions"));
  EXPECT_TRUE(has("[stranger] Operation 'Get a fax from server' failed."));
  EXPECT_TRUE(has("[stranger] User has no permissions"));
  EXPECT_TRUE(has("[reader] Operation 'Add a registered user' failed."));
  EXPECT_TRUE(has("[reader] User has no permissions"));
  // Changes of the books are logged once they pass the rights test.
  EXPECT_TRUE(has("[booker] Add an entry to the address book"));
  EXPECT_FALSE(has("[reader] Add an entry to the address book"));
  EXPECT_TRUE(has("[Administrator] Add a registered user"));
  EXPECT_FALSE(has("[Administrator] Get list of all modems")) << "listing modems is not a logged request";
}

TEST_F(IpcServerTest, TheSessionAnswersTheHandshakeRequestsItself) {
  Start();
  FaxClient client;
  uint32_t version = 0;
  ASSERT_EQ(client.GetServerVersion(".", version).status, 0u);
  EXPECT_EQ(version, 0x011Eu);
  const uint32_t before = static_cast<uint32_t>(std::time(nullptr));
  uint32_t now = 0;
  ASSERT_EQ(client.GetServerTime(".", now).status, 0u);
  EXPECT_GE(now, before);
  EXPECT_LE(now, static_cast<uint32_t>(std::time(nullptr)));
  uint32_t bits = 99;
  ASSERT_EQ(client.GetPermissions(".", bits).status, 0u);
  // The test's login is not registered; root holds the built-in
  // administrator's rights all the same.
  EXPECT_EQ(bits, geteuid() == 0 ? 63u : 0u);
  std::string rights;
  ASSERT_EQ(Permissions("Administrator", &rights).status, 0u);
  EXPECT_EQ(rights, geteuid() == 0 ? "63" : "0");
  ASSERT_EQ(Permissions("administrator", &rights).status, 0u);
  EXPECT_EQ(rights, "0") << "no login's name in another letter case";
}

TEST_F(IpcServerTest, OnlyTheHandshakeWorksWithoutAGoodClientVersion) {
  if (!MayActForOthers()) GTEST_SKIP() << "needs root to act for other users";
  Start();
  struct Case {
    const char* name;
    std::optional<uint32_t> version;  // none: 2010 is skipped
    uint32_t code;
    Status expect;  // 0: an Ok reply
  };
  const Case cases[] = {
      {"no version, 2140", std::nullopt, kTagGetServerVersion, 0},
      {"no version, 2020", std::nullopt, FaxClient::kGetPermissions, kStatusClientVersionIncompatible},
      {"no version, 2150", std::nullopt, FaxClient::kGetServerTime, kStatusClientVersionIncompatible},
      {"1.19", 0x0113, FaxClient::kGetPermissions, kStatusClientVersionIncompatible},
      {"1.20", 0x0114, FaxClient::kGetPermissions, 0},
      {"1.30", 0x011E, FaxClient::kGetServerTime, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RawClient client;
    ASSERT_TRUE(client.connected());
    client.Introduce("Administrator");
    if (c.version) client.ReportVersion(*c.version);
    ASSERT_EQ(client.Request(c.code), 0u);
    if (c.expect == 0) {
      EXPECT_EQ(client.reply().tag, kTagOk);
      // The session goes on.
      ASSERT_EQ(client.Request(kTagGetServerVersion), 0u);
      EXPECT_EQ(client.reply().tag, kTagOk);
    } else {
      EXPECT_EQ(ErrorReplyStatus(client.reply()), c.expect);
      EXPECT_EQ(client.Receive(), kStatusDisconnect) << "the refusal ends the session";
    }
  }
  // Skipping 2010 leaves 2000, 2140 and a late 2010 open, which then opens
  // the rest.
  RawClient late;
  ASSERT_TRUE(late.connected());
  late.Introduce("Administrator");
  ASSERT_EQ(late.Request(kTagGetServerVersion), 0u);
  late.Introduce("Administrator");
  late.ReportVersion(0x0114);
  ASSERT_EQ(late.Request(FaxClient::kGetPermissions), 0u);
  EXPECT_EQ(late.reply().tag, kTagOk);
  EXPECT_EQ(late.reply().Text(), "63");
  server_.reset();
  EXPECT_TRUE(Logged("[Administrator] Operation 'Get permissions' failed."));
}

TEST_F(IpcServerTest, ASessionKeepsTheSuspendedFlagItBeganWith) {
  if (!MayActForOthers()) GTEST_SKIP() << "needs root to act for other users";
  Start();
  ASSERT_EQ(g_FaxServer->Suspend(), 0u);
  EXPECT_TRUE(IpcServer::IsSuspended());
  RawClient early;
  ASSERT_TRUE(early.connected());
  early.Handshake("Administrator");
  // A reply shows that the session exists before the resume.
  ASSERT_EQ(early.Request(kTagGetServerVersion), 0u);
  ASSERT_EQ(g_FaxServer->Resume(), 0u);
  EXPECT_FALSE(IpcServer::IsSuspended());

  ASSERT_EQ(early.Request(FaxClient::kSendFax), 0u);
  EXPECT_EQ(ErrorReplyStatus(early.reply()), kStatusServerSuspended);
  // A session that begins after the resume is not refused for that.
  RequestExchange later("Administrator");
  ReceivedMessage reply;
  // Accepted: the server waits for the files.
  EXPECT_EQ(later.Run(".", FaxClient::kSendFax, nullptr, &reply).status, 0u);
  server_.reset();
  EXPECT_TRUE(Logged("[Administrator] Operation 'Send a fax to server' failed."));
}

TEST_F(IpcServerTest, AnUnknownCodeEndsTheSessionWithoutAReply) {
  if (!MayActForOthers()) GTEST_SKIP() << "needs root to act for other users";
  Start();
  for (uint32_t code : {1234u, 2001u, 9999u}) {
    SCOPED_TRACE(code);
    RawClient client;
    ASSERT_TRUE(client.connected());
    client.Handshake("Administrator");
    EXPECT_EQ(client.Request(code), kStatusDisconnect);
  }
  server_.reset();
  EXPECT_TRUE(Logged("[Administrator] Unsupported message received; possible cause: client/server incompatibility."))
      << ::testing::PrintToString(LogTexts());
}

// A running server answers every code of its table: the session the tags and
// the handshake, a handler each of the others.
TEST_F(IpcServerTest, EveryCodeOfTheTableHasItsAnswer) {
  Start();
  const std::vector<uint32_t> bySession = {kTagOk,  kTagError, kTagData, kTagIntroduce, kTagReportClientVersion,
                                           2020,    kTagGetServerVersion, 2150};
  size_t count = 0;
  const RequestCode* table = RequestCode::Table(&count);
  ASSERT_EQ(count, 51u);
  for (size_t i = 0; i < count; ++i) {
    const uint32_t code = table[i].code;
    const bool session = std::find(bySession.begin(), bySession.end(), code) != bySession.end();
    EXPECT_EQ(IpcServer::Handler(code) != nullptr, !session) << code;
  }
}

TEST_F(IpcServerTest, TheProtocolTagsAreReadWithoutAReply) {
  Start();
  RawClient client;
  ASSERT_TRUE(client.connected());
  client.Handshake("Administrator");
  for (uint32_t tag : {kTagOk, kTagError, kTagData}) client.Send(tag);
  // Nothing came back for them: the next reply is the version's.
  ASSERT_EQ(client.Request(kTagGetServerVersion), 0u);
  EXPECT_EQ(client.reply().tag, kTagOk);
  uint32_t version = 0;
  ASSERT_TRUE(client.reply().Word(&version));
  EXPECT_EQ(version, 0x011Eu);
}

TEST_F(IpcServerTest, TransportsComeFromTheRegistry) {
  struct Case {
    const char* name;
    std::optional<uint32_t> tcpIp, pipes;  // none: the value is missing
    bool starts;
    std::vector<std::string> lines;  // in the log
  };
  const Case cases[] = {
      {"both missing", std::nullopt, std::nullopt, false,
       {"Fax Server: TCP/IP registry key not found", "Fax Server: Named pipes registry key not found",
        "Fax Server: No IPC protocol enabled, exiting", "Fax Server:  Failed to start IPC server!"}},
      {"both off", 0, 0, false, {"Fax Server: No IPC protocol enabled, exiting"}},
      {"pipes 2 is off", 0, 2, false, {"Fax Server: No IPC protocol enabled, exiting"}},
      {"pipes", 0, 1, true, {"Fax Server: Named Pipes protocol enabled", "Fax Server: IPC Started"}},
      {"tcp/ip only", 1, 0, true, {"Fax Server: TCP/IP protocol enabled", "Fax Server: IPC Started"}},
      {"both", 1, 1, true,
       {"Fax Server: TCP/IP protocol enabled", "Fax Server: Named Pipes protocol enabled", "Fax Server: IPC Started"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::Sandbox box;
    ASSERT_EQ(KvWriteRegStr("Server", "RootPath", box.path("root").c_str()), 1);
    if (c.tcpIp) {
      ASSERT_EQ(KvWriteRegDword("Server", "TcpIp", *c.tcpIp), 1);
    }
    if (c.pipes) {
      ASSERT_EQ(KvWriteRegDword("Server", "Pipes", *c.pipes), 1);
    }
    bool served = false;
    {
      int ok = 0;
      FaxServer server(&ok);
      EXPECT_EQ(ok, c.starts ? 1 : 0);
      EXPECT_EQ(g_IpcServer != nullptr, c.starts);
      uint32_t version = 0;
      served = FaxClient().GetServerVersion(".", version).status == 0;
    }
    // The server has gone, and its listeners with it.
    EXPECT_EQ(served, c.pipes == 1u);
    const auto log = LogTexts();
    for (const auto& line : c.lines) EXPECT_NE(std::find(log.begin(), log.end(), line), log.end()) << line;
    // The unusable transport says so once; the pipe goes on without it.
    EXPECT_EQ(std::count(log.begin(), log.end(), "Fax Server: Could not start IPCServer for Socket protocol"),
              c.tcpIp == 1u ? 1 : 0);
    uint32_t version = 0;
    EXPECT_NE(FaxClient().GetServerVersion(".", version).status, 0u) << "nothing listens after shutdown";
  }
}

// Runs the body on a thread of its own whose effective user is nobody, so
// that its connections carry nobody's credentials; the rest of the process
// stays root.
template <class Body>
void AsNobody(Body body) {
  std::thread t([&] {
    ASSERT_EQ(syscall(SYS_setresuid, -1, 65534, -1), 0);
    body();
  });
  t.join();
}

TEST_F(IpcServerTest, APeerActsForAnotherUserOnlyAsRootOrAdministrator) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
  // nobody must reach the socket.
  std::filesystem::permissions(sandbox_.root(), std::filesystem::perms(0755));
  Start();
  AddUser("alice", kRightRegistered | kRightGlobalBook);
  struct Case {
    const char* name;
    bool asNobody;
    std::optional<uint32_t> nobodyRights;  // none: nobody is not registered
    const char* claimed;
    const char* expectRights;
    bool refused;
  };
  const Case cases[] = {
      {"unregistered claims the administrator", true, std::nullopt, "Administrator", "0", true},
      {"user claims the administrator", true, kRightRegistered, "Administrator", "2", true},
      {"user claims another user", true, kRightRegistered, "alice", "2", true},
      {"user is itself", true, kRightRegistered, "nobody", "2", false},
      // Logins differ in letter case: that is somebody else.
      {"user claims itself in another case", true, kRightRegistered, "NoBody", "2", true},
      {"administrator acts for a user", true, kRightRegistered | kRightAdministration, "alice", "6", false},
      {"root acts for anybody", false, std::nullopt, "Administrator", "63", false},
      {"root acts for a user", false, std::nullopt, "alice", "6", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_UserDatabase->DeleteUser([&] {
      std::string text;
      EncodeFields(&text, {"nobody", "", "0", "", "", "", "", ""}, 8);
      return text;
    }());
    if (c.nobodyRights) AddUser("nobody", *c.nobodyRights);
    const auto before = LogTexts().size();
    RequestResult result;
    std::string rights;
    if (c.asNobody) AsNobody([&] { result = Permissions(c.claimed, &rights); });
    else result = Permissions(c.claimed, &rights);
    ASSERT_EQ(result.status, 0u) << result.text;
    EXPECT_EQ(rights, c.expectRights);
    auto log = LogTexts();
    log.erase(log.begin(), log.begin() + static_cast<long>(before));
    const std::string refusal = std::string("[nobody] Not allowed to act for user '") + c.claimed + "'";
    EXPECT_EQ(std::count(log.begin(), log.end(), refusal), c.refused ? 1 : 0);
  }
  // The client's own act-for-user goes through the same door.
  AddUser("nobody", kRightRegistered | kRightAdministration);
  AsNobody([&] {
    FaxClient client;
    EXPECT_STREQ(client.GetUserName(), "nobody");
    EXPECT_EQ(client.ActForUser(".", "alice"), 1);
    uint32_t bits = 0;
    EXPECT_EQ(client.GetPermissions(".", bits).status, 0u);
    EXPECT_EQ(bits, 6u);
  });
}

TEST_F(IpcServerTest, AnIdleClientIsDropped) {
  ASSERT_EQ(SetReadTimeout(200), 1);
  // The clients here wait longer than the server does.
  ClientPipeChannel::OverrideTimeouts(60000, std::nullopt);
  Start();
  {
    RawClient silent;
    ASSERT_TRUE(silent.connected());
    EXPECT_EQ(silent.Receive(), kStatusDisconnect);
  }
  {
    // Between requests the same holds.
    RawClient pausing;
    ASSERT_TRUE(pausing.connected());
    pausing.Handshake("Administrator");
    ASSERT_EQ(pausing.Request(kTagGetServerVersion), 0u);
    EXPECT_EQ(pausing.Receive(), kStatusDisconnect);
  }
  {
    // A header whose payload never comes is no message either.
    RawClient halfway;
    ASSERT_TRUE(halfway.connected());
    WireHeader header;
    ASSERT_EQ(header.Send(*halfway.channel(), kTagIntroduce, 10), 1);
    EXPECT_EQ(halfway.Receive(), kStatusDisconnect);
  }
  // Clients that keep to the protocol are served as before.
  uint32_t version = 0;
  EXPECT_EQ(FaxClient().GetServerVersion(".", version).status, 0u);
  server_.reset();
  // A time-out is a disconnect, not a transfer failure.
  for (const auto& line : LogTexts()) EXPECT_EQ(line.find("could not get message"), std::string::npos) << line;
}

TEST_F(IpcServerTest, ShutdownEndsWaitingSessions) {
  // Without the wake-up a waiting session would hold shutdown this long.
  ASSERT_EQ(SetReadTimeout(120000), 1);
  ClientPipeChannel::OverrideTimeouts(120000, std::nullopt);
  Start();
  std::vector<std::unique_ptr<RawClient>> clients;
  for (int i = 0; i < 3; ++i) {
    clients.push_back(std::make_unique<RawClient>());
    ASSERT_TRUE(clients.back()->connected());
    clients.back()->Handshake("Administrator");
    ASSERT_EQ(clients.back()->Request(kTagGetServerVersion), 0u);
  }
  EXPECT_EQ(IpcServer::SessionCount(), 3);
  server_.reset();
  EXPECT_EQ(IpcServer::SessionCount(), 0);
  for (auto& c : clients) EXPECT_EQ(c->Receive(), kStatusDisconnect);
}

TEST_F(IpcServerTest, SixtyFourClientsAreServedAtOnce) {
  if (!MayActForOthers()) GTEST_SKIP() << "needs root to act for other users";
  Start();
  constexpr int kClients = 64;
  // All sessions open together, each with its own thread.
  std::vector<std::unique_ptr<RawClient>> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.push_back(std::make_unique<RawClient>());
    ASSERT_TRUE(clients.back()->connected()) << i;
    clients.back()->Handshake("Administrator");
  }
  for (auto& c : clients) {
    ASSERT_EQ(c->Request(FaxClient::kGetPermissions), 0u);
    EXPECT_EQ(c->reply().Text(), "63");
  }
  EXPECT_EQ(IpcServer::SessionCount(), kClients);
  clients.clear();
  // And as many request functions on as many threads.
  std::vector<std::thread> threads;
  std::vector<Status> results(kClients, 1);
  for (int i = 0; i < kClients; ++i)
    threads.emplace_back([&results, i] {
      uint32_t version = 0;
      results[static_cast<size_t>(i)] = FaxClient().GetServerVersion(".", version).status;
    });
  for (auto& t : threads) t.join();
  for (int i = 0; i < kClients; ++i) EXPECT_EQ(results[static_cast<size_t>(i)], 0u) << i;
}

}  // namespace
}  // namespace korvo
