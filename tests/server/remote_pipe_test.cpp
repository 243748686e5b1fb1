// The server's pipe on another machine: a private sshd on 127.0.0.1 stands
// for that machine, named by an alias in a test ssh_config, and a real
// korvohub behind it. The client takes the SSH path for the alias exactly as
// it would for a LAN host.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "common/fax_header.h"
#include "common/network_channel.h"
#include "common/settings.h"
#include "common/tiff_reader.h"
#include "common/status_codes.h"
#include "common/wire.h"
#include "platform/lasterror.h"
#include "platform/pipe_frames.h"
#include "tests/common/faxclient_cases.h"
#include "tests/server/hub_fixture.h"
#include "tests/server/line_hub_fixture.h"
#include "tests/server/queue_fixture.h"
#include "tests/server/ssh_server.h"

namespace korvo {
namespace {

constexpr const char* kRemote = "korvo-remote";
constexpr const char* kBadKey = "korvo-badkey";
constexpr const char* kClosed = "korvo-closed";

// Waits for a condition that comes with the server's own pace.
bool Eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 6000; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// The relays serving this sandbox's server socket.
std::vector<pid_t> Relays(const std::filesystem::path& relay, const std::string& pipeDir) {
  std::vector<pid_t> out;
  for (const auto& e : std::filesystem::directory_iterator("/proc")) {
    const std::string name = e.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code ec;
    if (std::filesystem::read_symlink(e.path() / "exe", ec) != relay) continue;
    const std::string env = test::Sandbox::readFile(e.path() / "environ");
    if (env.find("KORVO_PIPE_DIR=" + pipeDir + std::string(1, '\0')) != std::string::npos) out.push_back(std::stoi(name));
  }
  return out;
}

// The SSH login is a throwaway one with a plain shell: a login's start-up
// files (root's may run for long) are no part of what is tested.
template <class Base>
class RemoteFixture : public Base {
 protected:
  void SetUp() override {
    if (!test::SshServer::Available()) GTEST_SKIP() << "needs root, sshd and ssh-keygen";
    login_ = std::make_unique<test::ThrowawayLogin>();
    if (!login_->made()) GTEST_SKIP() << "no throwaway login could be made";
    Base::SetUp();
    SetDebugFlags(1);
    std::string text;
    EncodeFields(&text, {login_->name(), "", std::to_string(loginRights_), "", "", "", "", ""}, 8);
    bool ok = false;
    UserDatabase users((this->root_ / "Config" / "RegUsers.dbs").string(), &ok);
    ASSERT_TRUE(ok && users.AddUser(text));
    // Every login must reach the server socket, as on a real server machine.
    std::filesystem::permissions(this->sandbox_.root(), std::filesystem::perms(0755));
    const std::vector<test::SshServer::Login> logins = {
        {kRemote, login_->name()}, {kBadKey, "nobody", false}, {kClosed, "root", true, true}};
    std::string why;
    ASSERT_TRUE(ssh_.Start(this->sandbox_.path("ssh"), logins, this->sandbox_.pipeDir().string(), &why)) << why;
    // The relay where the SSH login reaches it, as an installed one is: the
    // build folder may be in a closed home (a checkout in /root).
    std::filesystem::create_directory(this->sandbox_.path("bin"));
    std::filesystem::permissions(this->sandbox_.path("bin"), std::filesystem::perms(0755));
    std::filesystem::copy_file(std::filesystem::absolute(test::BuildDir() / "relay" / "korvo-relay"), Relay());
    ASSERT_EQ(SetRemoteSshOptions(ssh_.sshOptions().c_str()), 1);
    ASSERT_EQ(SetRemoteRelayPath(Relay().c_str()), 1);
  }
  void TearDown() override {
    Base::TearDown();
    ssh_.Stop();
    login_.reset();
  }
  std::string Relay() const { return this->sandbox_.path("bin/korvo-relay").string(); }

  // The server running: the client then speaks as the SSH login itself.
  void StartHubAsLogin() {
    this->StartHub();
    ASSERT_EQ(this->client_.ActForUser(".", login_->name().c_str()), 1);
  }
  // A fax for the SSH login, so that it can fetch it back.
  FaxHeader ToSelf() {
    FaxHeader header;
    header.sender = test::Lan(login_->name());
    header.subject = "Remote";
    header.recipients.AddTail(test::Lan(login_->name()));
    return header;
  }
  // A five-page fax with a tail of data, so that it spans many blocks and
  // ends inside one.
  std::string FivePages(size_t bytes) {
    const std::string image = this->TempPath("five.tif");
    test::WriteFaxFile(image, 5);
    std::string data = test::Sandbox::readFile(image);
    for (size_t i = data.size(); i < bytes; ++i) data.push_back(static_cast<char>(i * 131 % 251));
    test::Sandbox::writeFile(image, data);
    return image;
  }
  std::vector<std::string> Mine(const char* server) {
    const std::string list = this->TempPath("mine.txt");
    EXPECT_EQ(this->client_.DownloadList(server, 5020, nullptr, list).status, 0u);
    return test::ListLines(test::Sandbox::readFile(list));
  }
  std::string Trace() { return test::Sandbox::readFile(this->sandbox_.traceFile()); }

  // An administrator, so that it may act for the client process's own user.
  uint32_t loginRights_ = 63;
  std::unique_ptr<test::ThrowawayLogin> login_;
  test::SshServer ssh_;
};

using RemotePipeTest = RemoteFixture<test::HubFixture>;

TEST_F(RemotePipeTest, AFaxTravelsBothWaysAndListsMatchTheLocalOnes) {
  StartHubAsLogin();
  uint32_t version = 0;
  ASSERT_EQ(client_.GetServerVersion(kRemote, version).status, 0u) << Trace() << ssh_.log();
  EXPECT_EQ(version, kProtocolVersion);

  const std::string image = FivePages(300 * 4096 + 1234);
  ASSERT_EQ(client_.SendFax(kRemote, ToSelf(), image).status, 0u);
  const auto remoteList = Mine(kRemote);
  ASSERT_EQ(remoteList.size(), 1u);
  EXPECT_EQ(remoteList, Mine("."));

  const std::string got = TempPath("got.tif");
  ASSERT_EQ(client_.GetFax(kRemote, std::stoi(test::ListField(remoteList[0], 1)), TempPath("got.kvf"), got).status, 0u);
  EXPECT_TRUE(test::Sandbox::readFile(got) == test::Sandbox::readFile(image)) << "the fetched image differs";
  // The server takes the fax off its list once the client's last answer came.
  EXPECT_TRUE(Eventually([&] { return Mine(kRemote).empty(); })) << "a fetched fax leaves its list";
}

// Every request the client offers answers over SSH as it does locally.
TEST_F(RemotePipeTest, EveryClientRequestAnswersAsLocally) {
  StartHub();
  struct Case {
    const char* name;
    std::function<std::string(const char* server, RequestResult* result)> call;
  };
  auto listing = [&](uint32_t code, const char* selector) {
    return [&, code, selector](const char* server, RequestResult* r) {
      const std::string file = TempPath("list.txt");
      *r = client_.DownloadList(server, code, selector, file);
      return test::Sandbox::readFile(file);
    };
  };
  const Case cases[] = {
      {"version", [&](const char* s, RequestResult* r) { uint32_t v = 0; *r = client_.GetServerVersion(s, v); return std::to_string(v); }},
      {"permissions", [&](const char* s, RequestResult* r) { uint32_t b = 0; *r = client_.GetPermissions(s, b); return std::to_string(b); }},
      {"suspended", [&](const char* s, RequestResult* r) { int f = -1; *r = client_.IsServerSuspended(s, f); return std::to_string(f); }},
      {"debug message", [&](const char* s, RequestResult* r) { *r = client_.SendDebugMessage(s); return std::string(); }},
      {"server time", [&](const char* s, RequestResult* r) { uint32_t t = 0; *r = client_.GetServerTime(s, t); return std::string(); }},
      {"parameters", [&](const char* s, RequestResult* r) {
         ConnectionSettings c;
         *r = client_.GetServerParameters(s, c);
         return std::string();
       }},
      {"users", [&](const char* s, RequestResult* r) { UserEntryList l; *r = client_.GetUserList(s, l); return std::to_string(l.size()); }},
      {"own user", [&](const char* s, RequestResult* r) {
         RegisteredUserEntry u;
         *r = client_.GetUser(s, test::OwnLogin().c_str(), u);
         return std::string();
       }},
      {"unknown user", [&](const char* s, RequestResult* r) { RegisteredUserEntry u; *r = client_.GetUser(s, "nobody", u); return std::string(); }},
      {"fax that is not there", [&](const char* s, RequestResult* r) {
         *r = client_.GetFax(s, 99999, TempPath("h"), TempPath("f"));
         return std::string();
       }},
      {"received", listing(5010, nullptr)},
      {"mine", listing(5020, nullptr)},
      {"outgoing", listing(5030, nullptr)},
      {"user list", listing(7500, "0")},
      {"unknown request", [&](const char* s, RequestResult* r) { *r = client_.SendNumber(s, 9999, 1); return std::string(); }},
  };
  for (const auto& c : cases) {
    RequestResult local, remote;
    const std::string localValue = c.call(".", &local);
    const std::string remoteValue = c.call(kRemote, &remote);
    EXPECT_EQ(remote.status, local.status) << c.name << ": " << remote.text;
    EXPECT_EQ(remote.text, local.text) << c.name;
    EXPECT_EQ(remoteValue, localValue) << c.name;
  }
}

// Every request method of the client, byte for byte as it goes locally, to a
// stand-in server behind the relay: the remote path adds and loses nothing.
TEST_F(RemotePipeTest, EveryClientMethodCrossesTheRemotePathUnchanged) {
  const std::string socket = sandbox_.pipeDir().string() + "/Korvo";
  for (const auto& c : test::EachMethodCases(kRemote)) {
    SCOPED_TRACE(c.name);
    test::FakeServer server(socket, c.reply);
    ASSERT_TRUE(server.ok());
    chmod(socket.c_str(), 0666);  // the relay joins as the SSH login
    test::ExpectRowAnswered(c, client_, server, Trace());
  }
}

// A server that takes a request and never answers: the client's read
// time-out ends the wait over the remote path as it does locally.
TEST_F(RemotePipeTest, ARemoteServerThatStopsAnsweringTimesOut) {
  const std::string socket = sandbox_.pipeDir().string() + "/Korvo";
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  test::FakeServer server(socket, [released](test::FakeSession&, test::FakeServer::Request&) { released.wait(); });
  ASSERT_TRUE(server.ok());
  chmod(socket.c_str(), 0666);
  ClientPipeChannel::OverrideTimeouts(3000, std::nullopt);
  uint32_t bits = 0;
  const RequestResult r = client_.GetPermissions(kRemote, bits);
  ClientPipeChannel::OverrideTimeouts(std::nullopt, std::nullopt);
  release.set_value();
  EXPECT_EQ(r.status, kStatusGetMessageFromServer) << r.text << Trace();
  EXPECT_EQ(server.requests().size(), 1u) << "the request reached the server";
}

class RemoteIdentityTest : public RemoteFixture<test::HubFixture> {
 protected:
  RemoteIdentityTest() { loginRights_ = 1; }  // registered, nothing more
};

// The session's user is the login SSH authenticated, not the name the client
// gives (the client process's own, root): naming another user is refused as
// it is locally, and the session has the login's own rights.
TEST_F(RemoteIdentityTest, TheSshLoginIsTheSessionsUser) {
  StartHub();
  uint32_t bits = 0;
  ASSERT_EQ(client_.GetPermissions(kRemote, bits).status, 0u) << Trace() << ssh_.log();
  EXPECT_EQ(bits, 1u) << "the rights of the SSH login, not of the name the client gave";
  EXPECT_TRUE(Eventually([&] {
    return test::ServerLogged("[" + login_->name() + "] Not allowed to act for user '" + test::OwnLogin() + "'");
  }));
  FaxClient client;
  EXPECT_EQ(client.ActForUser(kRemote, test::OwnLogin().c_str()), 0);
  ASSERT_EQ(client_.GetPermissions(".", bits).status, 0u);
  EXPECT_EQ(bits, 63u) << "the client's own login, locally";
}

// A server that cannot be reached fails the connect with the channel's
// status; what ssh or the relay said is in the trace.
TEST_F(RemotePipeTest, UnreachableServersFailTheConnectWithTheirReason) {
  const std::string marker = sandbox_.path("injected").string();
  struct Case {
    const char* name;
    std::string server;
    std::string relay;
    uint32_t error;
    std::string trace;
  };
  const Case cases[] = {
      {"server not running", kRemote, Relay(), platform::kErrorFileNotFound, "no Korvo server"},
      {"relay missing", kRemote, "/nonexistent/korvo-relay", platform::kErrorFileNotFound, "/nonexistent/korvo-relay"},
      {"authentication refused", kBadKey, Relay(), EACCES, "Permission denied"},
      {"nothing listening", kClosed, Relay(), platform::kErrorHostUnreachable, "Connection refused"},
      {"an option for a name", "-oProxyCommand=touch " + marker, Relay(), EINVAL, "not reached"},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(SetRemoteRelayPath(c.relay.c_str()), 1);
    test::Sandbox::writeFile(sandbox_.traceFile(), "");
    ClientPipe pipe;
    EXPECT_EQ(pipe.Connect(c.server.c_str()), 0) << c.name;
    EXPECT_EQ(pipe.GetError(), c.error) << c.name << ": " << platform::SystemErrorText(pipe.GetError());
    EXPECT_NE(Trace().find(c.trace), std::string::npos) << c.name << ": " << Trace();
    uint32_t bits = 0;
    EXPECT_EQ(client_.GetPermissions(c.server.c_str(), bits).status, kStatusCannotConnect) << c.name;
  }
  EXPECT_FALSE(std::filesystem::exists(marker));
}

// The server's end reaches a connected client as the peer's end, and
// messages keep their bounds: a short buffer is the "more data" case.
TEST_F(RemotePipeTest, TheRemoteChannelKeepsTheLocalSocketsSemantics) {
  StartHub();
  for (const char* server : {".", kRemote}) {
    SCOPED_TRACE(server);
    ClientPipe pipe;
    ASSERT_EQ(pipe.Connect(server), 1) << Trace();
    uint32_t done = 0;
    // 2140 asks for the version: a 12-byte header, then 4 bytes of payload.
    WireHeader ask;
    ASSERT_TRUE(ask.Send(pipe, kTagGetServerVersion, 0));
    char buffer[8];
    ASSERT_EQ(pipe.Read(buffer, 8, &done), 1);
    EXPECT_EQ(done, 8u);
    EXPECT_TRUE(pipe.WasTruncated());
    EXPECT_EQ(pipe.GetError(), platform::kErrorMoreData);
    ASSERT_EQ(pipe.Read(buffer, 8, &done), 1);
    EXPECT_EQ(done, 4u) << "the payload is a message of its own";
    // Longer than any message of the protocol: refused by the channel on the
    // remote path, before anything is sent.
    const std::string tooLong(platform::kMaxFrameLength + 1, 'x');
    if (std::string(server) == kRemote) {
      EXPECT_EQ(pipe.Write(tooLong.data(), static_cast<uint32_t>(tooLong.size()), &done), 0);
      EXPECT_EQ(pipe.GetError(), platform::kErrorMoreData);
    }
  }
  ClientPipe local, remote;
  ASSERT_EQ(local.Connect("."), 1);
  ASSERT_EQ(remote.Connect(kRemote), 1);
  hub_.reset();  // the server is killed
  for (ClientPipe* pipe : {&local, &remote}) {
    char buffer[16];
    uint32_t done = 0;
    EXPECT_EQ(pipe->Read(buffer, sizeof buffer, &done), 0);
    EXPECT_EQ(pipe->GetError(), platform::kErrorBrokenPipe) << platform::SystemErrorText(pipe->GetError());
  }
  ClientPipe later;
  EXPECT_EQ(later.Connect(kRemote), 0);
  EXPECT_NE(Trace().find("no Korvo server"), std::string::npos);
}

// A frame longer than any message, or a stream that is no frames at all,
// is refused by either end without harm.
TEST_F(RemotePipeTest, OversizeAndMalformedFramesAreRefusedByBothEnds) {
  StartHub();
  const std::string bad[] = {
      std::string("\x01\x10\x00\x00", 4) + std::string(4097, 'x'),  // 4097 bytes announced
      std::string("\xFF\xFF\xFF\xFF", 4),                           // 4 GiB announced
  };
  // The relay's end: it ends, and the server sees its client go.
  for (const auto& frame : bad) {
    int in[2], out[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, in), 0);
    ASSERT_EQ(pipe(out), 0);
    const int null = open("/dev/null", O_WRONLY);
    pid_t relay = platform::StartProcessWithStdio({Relay()}, in[0], out[1], null);
    close(null);
    close(in[0]);
    close(out[1]);
    ASSERT_GT(relay, 0);
    char greeting[platform::kGreetingSize];
    ASSERT_EQ(read(out[0], greeting, sizeof greeting), static_cast<ssize_t>(sizeof greeting));
    uint32_t error = 1;
    ASSERT_TRUE(platform::DecodeGreeting(greeting, sizeof greeting, &error));
    EXPECT_EQ(error, 0u);
    ASSERT_EQ(send(in[1], frame.data(), frame.size(), MSG_NOSIGNAL), static_cast<ssize_t>(frame.size()));
    int code = -1;
    ASSERT_TRUE(platform::WaitProcess(relay, code));
    EXPECT_EQ(code, 2);
    close(in[1]);
    close(out[0]);
  }
  // The client's end: a stand-in for ssh that greets, then sends the frame.
  for (const auto& frame : bad) {
    const std::string script = TempPath("fake-ssh");
    std::string octal;
    for (unsigned char c : platform::EncodeGreeting(0) + frame.substr(0, 8)) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\%03o", c);
      octal += esc;
    }
    test::Sandbox::writeFile(script, "#!/bin/sh\nprintf '" + octal + "'\nexec cat >/dev/null\n");
    chmod(script.c_str(), 0700);
    ASSERT_EQ(SetRemoteSshProgram(script.c_str()), 1);
    ClientPipe pipe;
    ASSERT_EQ(pipe.Connect(kRemote), 1) << Trace();
    char buffer[64];
    uint32_t done = 0;
    EXPECT_EQ(pipe.Read(buffer, sizeof buffer, &done), 0);
    EXPECT_EQ(pipe.GetError(), platform::kErrorBrokenPipe);
  }
  ASSERT_EQ(SetRemoteSshProgram("ssh"), 1);
  uint32_t bits = 0;
  EXPECT_EQ(client_.GetPermissions(kRemote, bits).status, 0u) << "the server serves on";
}

// A relay of sessions: either end's end mark is answered by the other's, an
// open mark gets a new greeting, and a mark or message out of turn ends the
// relay as a malformed frame does.
TEST_F(RemotePipeTest, TheRelayServesSessionsOneAfterAnother) {
  StartHub();
  auto mark = [](uint32_t m) {
    std::string out;
    platform::AppendMark(&out, m);
    return out;
  };
  const std::string end = mark(platform::kFrameEnd), next = mark(platform::kFrameOpen);
  const std::string hello = platform::EncodeGreeting(0);
  const struct {
    const char* name;
    std::string sent;
    std::string answer;  // after the first greeting
    int code;
  } cases[] = {
      {"end answered", end, end, 0},
      {"end, then the next session", end + next + end + next, end + hello + end + hello, 0},
      {"a message between sessions", end + platform::EncodeFrame("x"), end, 2},
      {"an end between sessions", end + end, end, 2},
      {"an open during a session", next, "", 2},
  };
  for (const auto& c : cases) {
    int in[2], out[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, in), 0);
    ASSERT_EQ(pipe(out), 0);
    const int null = open("/dev/null", O_WRONLY);
    pid_t relay = platform::StartProcessWithStdio({Relay(), "--sessions"}, in[0], out[1], null);
    close(null);
    close(in[0]);
    close(out[1]);
    ASSERT_GT(relay, 0);
    ASSERT_EQ(send(in[1], c.sent.data(), c.sent.size(), MSG_NOSIGNAL), static_cast<ssize_t>(c.sent.size()));
    shutdown(in[1], SHUT_WR);
    std::string got;
    char buffer[256];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) got.append(buffer, static_cast<size_t>(n));
    int code = -1;
    ASSERT_TRUE(platform::WaitProcess(relay, code));
    EXPECT_EQ(code, c.code) << c.name;
    EXPECT_TRUE(got == hello + c.answer) << c.name << ": " << got.size() << " bytes";
    close(in[1]);
    close(out[0]);
  }
}

// A connection cut in the middle of a file leaves no part of it behind on the
// server, and a fetch cut short leaves the fax with the server.
TEST_F(RemotePipeTest, AConnectionCutMidFileLeavesNoHalfFile) {
  StartHubAsLogin();
  const auto temp = [&] {
    std::vector<std::string> names;
    if (std::filesystem::exists(root_ / "Temp"))
      for (auto& e : std::filesystem::directory_iterator(root_ / "Temp")) names.push_back(e.path().filename().string());
    return names;
  };
  const std::string pipeDir = sandbox_.pipeDir().string();
  auto cut = [&] {
    auto relays = Relays(Relay(), pipeDir);
    ASSERT_EQ(relays.size(), 1u);
    kill(relays[0], SIGKILL);
  };
  auto open = [&] {
    auto link = std::make_unique<ClientMessageLink>();
    EXPECT_TRUE(link->Open(kRemote));
    link->SendText(kTagIntroduce, login_->name().c_str());
    const uint8_t v[4] = {uint8_t(kProtocolVersion), uint8_t(kProtocolVersion >> 8), 0, 0};
    link->SendData(kTagReportClientVersion, v, 4);
    return link;
  };
  {
    // Half of a submission's image, then the cut.
    auto link = open();
    link->SendText(4000, nullptr);
    ReceivedMessage reply;
    ASSERT_EQ(link->Receive(&reply), 0u);
    ASSERT_EQ(reply.tag, kTagOk);
    const std::string header = TempPath("fax.hdr");
    ASSERT_TRUE(ToSelf().SaveToFile(header));
    ASSERT_EQ(link->SendFile(header.c_str()), 0u);
    WireHeader announce;
    ASSERT_TRUE(announce.Send(*link->GetChannel(), kTagData, 64 * 4096));
    const std::string block(4096, 'b');
    uint32_t done = 0;
    for (int i = 0; i < 32; ++i) ASSERT_EQ(link->GetChannel()->Write(block.data(), 4096, &done), 1);
    ASSERT_TRUE(Eventually([&] { return !temp().empty(); })) << "the server took the image";
    cut();
    EXPECT_NE(link->Receive(&reply), 0u);
  }
  EXPECT_TRUE(Eventually([&] { return temp().empty(); })) << "a part of the image was left";
  EXPECT_TRUE(Mine(kRemote).empty());

  const std::string image = FivePages(200 * 4096);
  const RequestResult sent = client_.SendFax(kRemote, ToSelf(), image);
  ASSERT_EQ(sent.status, 0u) << sent.text;
  const auto list = Mine(kRemote);
  ASSERT_EQ(list.size(), 1u);
  const std::string id = test::ListField(list[0], 1);
  {
    // A fetch read a little way, then the cut.
    auto link = open();
    link->SendText(4010, id.c_str());
    ReceivedMessage reply;
    ASSERT_EQ(link->Receive(&reply), 0u);
    ASSERT_EQ(reply.tag, kTagOk);
    ASSERT_EQ(link->ReceiveFile(TempPath("cut.kvf").c_str()), 0u);
    WireHeader announce;
    ASSERT_TRUE(announce.Receive(*link->GetChannel()));
    ASSERT_EQ(announce.tag(), kTagData);
    char block[4096];
    uint32_t done = 0;
    ASSERT_EQ(link->GetChannel()->Read(block, sizeof block, &done), 1);
    cut();
    while (link->GetChannel()->Read(block, sizeof block, &done)) {
    }
    EXPECT_EQ(link->GetChannel()->GetError(), platform::kErrorBrokenPipe);
  }
  const std::string got = TempPath("got.tif");
  Status fetched = 1;
  // The server learns of the cut when its next write fails.
  EXPECT_TRUE(Eventually([&] {
    fetched = client_.GetFax(kRemote, std::stoi(id), TempPath("got.kvf"), got).status;
    return fetched == 0;
  })) << "the fax stays with the server: " << fetched;
  EXPECT_TRUE(test::Sandbox::readFile(got) == test::Sandbox::readFile(image));
}


// A later connection to the same server asks the relay of an earlier one for
// a new session instead of starting ssh and a relay again; a session cut
// short by the client (a fetch left half read) ends cleanly on the relay, so
// the next session gets nothing of it.
TEST_F(RemotePipeTest, LaterConnectionsReuseTheRelayOfEarlierOnes) {
  StartHubAsLogin();
  const std::string pipeDir = sandbox_.pipeDir().string();
  uint32_t version = 0;
  ASSERT_EQ(client_.GetServerVersion(kRemote, version).status, 0u) << Trace() << ssh_.log();
  const auto first = Relays(Relay(), pipeDir);
  ASSERT_EQ(first.size(), 1u);
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(client_.GetServerVersion(kRemote, version).status, 0u) << Trace();
    EXPECT_EQ(Relays(Relay(), pipeDir), first) << "request " << i << " started a relay of its own";
  }
  const std::string image = FivePages(100 * 4096);
  ASSERT_EQ(client_.SendFax(kRemote, ToSelf(), image).status, 0u);
  const auto list = Mine(kRemote);
  ASSERT_EQ(list.size(), 1u);
  {
    ClientMessageLink link;
    ASSERT_TRUE(link.Open(kRemote));
    link.SendText(kTagIntroduce, login_->name().c_str());
    const uint8_t v[4] = {uint8_t(kProtocolVersion), uint8_t(kProtocolVersion >> 8), 0, 0};
    link.SendData(kTagReportClientVersion, v, 4);
    link.SendText(4010, test::ListField(list[0], 1).c_str());
    ReceivedMessage reply;
    ASSERT_EQ(link.Receive(&reply), 0u);
    ASSERT_EQ(reply.tag, kTagOk);
    // The server goes on sending the file; the client leaves.
  }
  EXPECT_EQ(Mine(kRemote), list) << "the next session's answer, and the fax still there";
  EXPECT_EQ(Relays(Relay(), pipeDir), first);
  const std::string got = TempPath("got.tif");
  ASSERT_EQ(client_.GetFax(kRemote, std::stoi(test::ListField(list[0], 1)), TempPath("got.kvf"), got).status, 0u);
  EXPECT_TRUE(test::Sandbox::readFile(got) == test::Sandbox::readFile(image));
  EXPECT_EQ(Relays(Relay(), pipeDir), first);
}

// A kept relay that has gone (killed, or its shared SSH connection closed)
// is noticed at the next connection and replaced, and the request succeeds.
TEST_F(RemotePipeTest, AKeptRelayThatWentIsReplaced) {
  StartHub();
  const std::string pipeDir = sandbox_.pipeDir().string();
  const struct {
    const char* name;
    std::function<void(pid_t)> end;
  } cases[] = {
      {"relay killed", [](pid_t relay) { kill(relay, SIGKILL); }},
      {"shared connection closed",
       [&](pid_t) {
         ASSERT_TRUE(platform::RunProcess(
             {"ssh", "-F", ssh_.configPath(), "-o", "ControlPath=" + platform::RemoteControlPath(), "-O", "exit", kRemote}));
       }},
  };
  for (const auto& c : cases) {
    uint32_t bits = 0;
    ASSERT_EQ(client_.GetPermissions(kRemote, bits).status, 0u) << c.name << Trace();
    const auto before = Relays(Relay(), pipeDir);
    ASSERT_EQ(before.size(), 1u) << c.name;
    c.end(before[0]);
    ASSERT_TRUE(Eventually([&] { return Relays(Relay(), pipeDir).empty(); })) << c.name;
    const RequestResult r = client_.GetPermissions(kRemote, bits);
    EXPECT_EQ(r.status, 0u) << c.name << ": " << r.text << Trace();
    EXPECT_EQ(bits, 63u) << c.name;
    const auto after = Relays(Relay(), pipeDir);
    EXPECT_EQ(after.size(), 1u) << c.name;
    EXPECT_NE(after, before) << c.name;
  }
}

// Many threads at once: each connection has a relay to itself, every answer
// is the one the local socket gives, and no more relays are kept than a few.
TEST_F(RemotePipeTest, ConnectionsFromManyThreadsAtOnceEachGetTheirAnswers) {
  StartHubAsLogin();
  constexpr int kThreads = 12, kRounds = 6;
  const std::string image = FivePages(20 * 4096 + 77);
  for (int t = 0; t < kThreads; ++t) ASSERT_EQ(client_.SendFax(".", ToSelf(), image).status, 0u);
  const auto local = Mine(".");
  ASSERT_EQ(local.size(), size_t{kThreads});
  const std::string expected = test::Sandbox::readFile(image);
  std::vector<std::string> failures(kThreads);
  auto inThreads = [&](const std::function<void(FaxClient&, int t, const std::string& name)>& work) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        FaxClient client;
        client.ActForUser(".", login_->name().c_str());
        work(client, t, TempPath("t" + std::to_string(t)));
      });
    }
    for (auto& thread : threads) thread.join();
  };
  inThreads([&](FaxClient& client, int t, const std::string& name) {
    for (int round = 0; round < kRounds && failures[t].empty(); ++round) {
      uint32_t bits = 0;
      RequestResult r = client.GetPermissions(kRemote, bits);
      if (r.status != 0 || bits != 63) failures[t] = "permissions: " + r.text;
      r = client.DownloadList(kRemote, 5020, nullptr, name + ".lst");
      if (r.status != 0 || test::ListLines(test::Sandbox::readFile(name + ".lst")) != local) failures[t] = "list: " + r.text;
    }
  });
  // Each thread fetches a fax of its own.
  inThreads([&](FaxClient& client, int t, const std::string& name) {
    const RequestResult r = client.GetFax(kRemote, std::stoi(test::ListField(local[t], 1)), name + ".kvf", name + ".tif");
    if (r.status != 0 || test::Sandbox::readFile(name + ".tif") != expected) failures[t] += "fetch: " + r.text;
  });
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], "") << "thread " << t << Trace();
  EXPECT_LE(Relays(Relay(), sandbox_.pipeDir().string()).size(), 4u) << "relays kept";
}

// Runs a built tool; its exit code and what it wrote.
std::pair<int, std::string> RunTool(const std::vector<std::string>& args) {
  int fds[2];
  if (pipe(fds) != 0) return {-1, ""};
  const pid_t pid = platform::StartProcessWithStdio(args, -1, fds[1], fds[1]);
  close(fds[1]);
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int code = -1;
  if (pid > 0) platform::WaitProcess(pid, code);
  return {code, out};
}

// The demonstration client reaches a server on another machine by its name
// alone (the user's DefaultServer), and sees what a local client sees.
TEST_F(RemotePipeTest, FaxdemoSendsAndListsThroughAServerFoundByName) {
  StartHub();
  const std::string tools = (test::BuildDir() / "tools").string();
  test::Sandbox::writeFile(TempPath("job.txt"), "Sent from another machine");
  auto made = RunTool({tools + "/prnstream", "-t", TempPath("job.txt"), TempPath("job.prn")});
  ASSERT_EQ(made.first, 0) << made.second;
  ASSERT_EQ(KvWriteRegUserStr(nullptr, "DefaultServer", kRemote), 1);
  auto sent = RunTool({tools + "/faxdemo", "send", "555 0100", TempPath("job.prn"), "Remote"});
  ASSERT_EQ(sent.first, 0) << sent.second << Trace();
  EXPECT_EQ(sent.second, "Success\n");  // the server's own answer
  auto remote = RunTool({tools + "/faxdemo", "list", "sent"});
  ASSERT_EQ(remote.first, 0) << remote.second;
  EXPECT_NE(remote.second.find("\tRemote\t"), std::string::npos) << remote.second;
  ASSERT_EQ(KvWriteRegUserStr(nullptr, "DefaultServer", "."), 1);
  EXPECT_EQ(RunTool({tools + "/faxdemo", "list", "sent"}).second, remote.second);
}

// A fetch whose connection ends in the middle of the image (the stream cut
// after its first megabyte): the tool fails and leaves neither the image nor
// a temporary file with the client, and the fax stays with the server.
TEST_F(RemotePipeTest, AFetchCutMidFileLeavesNoFileWithTheClient) {
  StartHubAsLogin();
  const std::string image = FivePages(1024 * 4096 + 99);
  ASSERT_EQ(client_.SendFax(".", ToSelf(), image).status, 0u);
  const auto list = Mine(".");
  ASSERT_EQ(list.size(), 1u);
  const std::string id = test::ListField(list[0], 1);
  const std::string cutter = TempPath("cut-ssh");
  test::Sandbox::writeFile(cutter, "#!/bin/sh\nssh \"$@\" | head -c 1000000\n");
  chmod(cutter.c_str(), 0700);
  ASSERT_EQ(SetRemoteSshProgram(cutter.c_str()), 1);
  ASSERT_EQ(KvWriteRegUserStr(nullptr, "DefaultServer", kRemote), 1);
  const auto data = [&] {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(sandbox_.path("client"))) names.push_back(e.path().filename().string());
    return names;
  };
  const auto before = data();
  const std::string out = TempPath("cut.tif");
  const auto fetched = RunTool({(test::BuildDir() / "tools" / "faxdemo").string(), "fetch", id, out});
  EXPECT_EQ(fetched.first, 1) << fetched.second;
  EXPECT_FALSE(std::filesystem::exists(out)) << "a part of the image was left";
  EXPECT_EQ(data(), before);
  ASSERT_EQ(SetRemoteSshProgram("ssh"), 1);
  const std::string got = TempPath("got.tif");
  Status status = 1;
  // The server learns of the cut when its next write fails.
  EXPECT_TRUE(Eventually([&] {
    status = client_.GetFax(kRemote, std::stoi(id), TempPath("got.kvf"), got).status;
    return status == 0;
  })) << "the fax stays with the server: " << status;
  EXPECT_TRUE(test::Sandbox::readFile(got) == test::Sandbox::readFile(image));
}

using RemoteLineTest = RemoteFixture<test::LineHubFixture>;

// What a new user does on a second machine, with only an SSH login to the
// server's: a print job sent with faxdemo to a server named by DefaultServer
// goes out on the simulated line, comes back in, is listed for the
// dispatchers and fetched, all over the remote path.
TEST_F(RemoteLineTest, FaxdemoSendsListsAndFetchesThroughAServerFoundByName) {
  StartHub();
  const std::string tools = (test::BuildDir() / "tools").string();
  test::Sandbox::writeFile(TempPath("job.txt"), "Sent from another machine");
  const auto made = RunTool({tools + "/prnstream", "-t", TempPath("job.txt"), TempPath("job.prn")});
  ASSERT_EQ(made.first, 0) << made.second;
  ASSERT_EQ(KvWriteRegUserStr(nullptr, "DefaultServer", kRemote), 1);
  const auto sent = RunTool({tools + "/faxdemo", "send", "200", TempPath("job.prn"), "Remote"});
  ASSERT_EQ(sent.first, 0) << sent.second << Trace();
  EXPECT_EQ(sent.second, "Success\n");
  ASSERT_TRUE(exchange_->waitForCalls(1, std::chrono::seconds(120)));
  std::pair<int, std::string> listed;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while ((listed = RunTool({tools + "/faxdemo", "list", "received"})).second == "no faxes\n" &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_EQ(listed.first, 0) << listed.second;
  ASSERT_EQ(listed.second.rfind("JOBID\tSENDER\tSUBJECT\tPAGES\tSTATE\n", 0), 0u) << listed.second;
  const std::string row = listed.second.substr(listed.second.find('\n') + 1);
  const std::string id = row.substr(0, row.find('\t'));
  const std::string got = TempPath("got.tif");
  const auto fetched = RunTool({tools + "/faxdemo", "fetch", id, got});
  ASSERT_EQ(fetched.first, 0) << fetched.second << Trace();
  EXPECT_EQ(CountTiffPages(got), 1u);
  EXPECT_EQ(RunTool({tools + "/faxdemo", "list", "received"}).second, "no faxes\n") << "the fetch hands the fax over";
}

}  // namespace
}  // namespace korvo
