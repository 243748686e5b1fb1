// What one client may cost a real korvohub: the sessions one login may hold,
// the size and the time of a submission, the size of its header, and the
// lines its refused requests leave in the event log.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/fax_header.h"
#include "common/network_channel.h"
#include "common/status_codes.h"
#include "common/wire.h"
#include "tests/server/hub_fixture.h"
#include "tests/server/queue_fixture.h"

namespace korvo {
namespace {

using test::AsNobody;
using test::Fax;
using test::ServerLog;
using test::ServerLogged;

constexpr const char* kServer = ".";

// A connection past its handshake whose session has answered a ping: it
// holds a session of the server until it is closed.
std::unique_ptr<ClientMessageLink> OpenSession(const std::string& user) {
  auto link = std::make_unique<ClientMessageLink>();
  if (!link->Open(kServer)) return nullptr;
  link->SendText(kTagIntroduce, user.c_str());
  const uint8_t version[4] = {uint8_t(kProtocolVersion), uint8_t(kProtocolVersion >> 8), 0, 0};
  link->SendData(kTagReportClientVersion, version, 4);
  link->SendText(90, nullptr);
  ReceivedMessage reply;
  if (link->Receive(&reply) != 0 || reply.tag != kTagOk) return nullptr;
  return link;
}

// The server writes its line after its answer: waits for it.
bool LogShows(const std::string& line) {
  for (int i = 0; i < 3000; ++i) {
    if (ServerLogged(line)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

size_t Count(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

class ClientLimitsTest : public test::HubFixture {
 protected:
  void SetUp() override {
    HubFixture::SetUp();
    // nobody must reach the socket.
    std::filesystem::permissions(sandbox_.root(), std::filesystem::perms(0755));
  }
  void TearDown() override {
    ClientPipeChannel::OverrideTimeouts(std::nullopt, std::nullopt);
    HubFixture::TearDown();
  }

  FaxHeader Header(std::vector<FaxSenderOrRecipient> to) {
    FaxHeader header;
    header.sender = test::Lan(test::OwnLogin());
    header.subject = "Offer";
    for (auto& r : to) header.recipients.AddTail(r);
    // Tomorrow: nothing is due while the test runs.
    header.sendTime = ScheduleTimeInfo(ScheduleTimeInfo::kAtChosenTime, static_cast<int32_t>(std::time(nullptr)) + 86400);
    return header;
  }
  std::vector<std::string> TempNames() {
    std::vector<std::string> names;
    for (auto& e : std::filesystem::directory_iterator(root_ / "Temp")) names.push_back(e.path().filename().string());
    return names;
  }
  // Waits for the server's temporary folder to hold that many files.
  bool TempFilesCome(size_t n) {
    for (int i = 0; i < 3000; ++i) {
      if (TempNames().size() == n) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  // A submission's connection, up to the announcement of its image: the
  // header file has been taken.
  std::unique_ptr<ClientMessageLink> StartSubmission(uint32_t imageLength) {
    auto link = OpenSession(test::OwnLogin());
    if (!link) return nullptr;
    link->SendText(4000, nullptr);
    ReceivedMessage reply;
    if (link->Receive(&reply) != 0 || reply.tag != kTagOk) return nullptr;
    const std::string header = TempPath("fax.hdr");
    if (!Header({Fax("555 0001")}).SaveToFile(header) || link->SendFile(header.c_str()) != 0) return nullptr;
    WireHeader announce;
    if (!announce.Send(*link->GetChannel(), kTagData, imageLength)) return nullptr;
    return link;
  }
};

// A login holds at most Server\MaxSessionsPerUser sessions; one more is told
// the server is busy, while other logins, root among them, are served. A
// session that ends frees its place.
TEST_F(ClientLimitsTest, OneLoginHoldsOnlyItsShareOfSessions) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
  ASSERT_EQ(KvWriteRegDword("Server", "MaxSessionsPerUser", 3), 1);
  StartHub();
  std::vector<std::unique_ptr<ClientMessageLink>> held;
  RequestResult refused;
  AsNobody([&] {
    for (int i = 0; i < 3; ++i) {
      held.push_back(OpenSession("nobody"));
      ASSERT_NE(held.back(), nullptr) << i;
    }
    uint32_t version = 0;
    refused = FaxClient().GetServerVersion(kServer, version);
  });
  EXPECT_EQ(refused.status, kStatusServerTooBusy);
  EXPECT_NE(refused.text.find("Server is too busy."), std::string::npos) << refused.text;
  EXPECT_TRUE(LogShows("[nobody] Too many sessions at once, refused"));

  // Root is not held to the limit, and is served beside nobody's sessions.
  std::vector<std::unique_ptr<ClientMessageLink>> mine;
  for (int i = 0; i < 5; ++i) {
    mine.push_back(OpenSession(test::OwnLogin()));
    ASSERT_NE(mine.back(), nullptr) << i;
  }
  uint32_t version = 0;
  EXPECT_EQ(client_.GetServerVersion(kServer, version).status, 0u);

  held.pop_back();
  Status again = kStatusServerTooBusy;
  AsNobody([&] {
    // The closed session ends on the server's own time.
    for (int i = 0; i < 3000 && again == kStatusServerTooBusy; ++i) {
      uint32_t v = 0;
      again = FaxClient().GetServerVersion(kServer, v).status;
      if (again == kStatusServerTooBusy) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  EXPECT_EQ(again, 0u);
}

// A session whose client has gone is ending on its own: a login at its cap
// only through such sessions is served once they have ended, not refused.
// Each session here ends with an unsupported message, after which the server
// holds it a moment past its client's close.
TEST_F(ClientLimitsTest, SessionsWhoseClientsHaveGoneRefuseNoOne) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
  ASSERT_EQ(KvWriteRegDword("Server", "MaxSessionsPerUser", 2), 1);
  StartHub();
  AsNobody([&] {
    for (int round = 0; round < 5; ++round) {
      for (int i = 0; i < 2; ++i) {
        auto link = OpenSession("nobody");
        ASSERT_NE(link, nullptr) << round << "/" << i;
        link->SendText(1, nullptr);
      }
      uint32_t version = 0;
      const RequestResult r = FaxClient().GetServerVersion(kServer, version);
      EXPECT_EQ(r.status, 0u) << "round " << round << ": " << r.text;
    }
  });
  EXPECT_FALSE(ServerLogged("[nobody] Too many sessions at once, refused"));
}

// Started from a shell whose soft limit is low, the server raises it: it
// holds far more sessions than that limit has descriptors.
TEST_F(ClientLimitsTest, TheServerRaisesItsDescriptorLimit) {
  rlimit normal{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &normal), 0);
  if (normal.rlim_max < 1024) GTEST_SKIP() << "hard limit too low";
  // Sessions are held until the test ends, not dropped as idle; a client
  // waits a while for its answer.
  ASSERT_EQ(SetReadTimeout(120000), 1);
  ClientPipeChannel::OverrideTimeouts(20000, std::nullopt);
  rlimit low = normal;
  low.rlim_cur = 64;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  StartHub();  // inherits the low limit
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &normal), 0);
  std::vector<std::unique_ptr<ClientMessageLink>> held;
  for (int i = 0; i < 200; ++i) {
    held.push_back(OpenSession(test::OwnLogin()));
    ASSERT_NE(held.back(), nullptr) << "session " << i;
  }
}

// An image announced larger than Server\MaxFaxSize is refused on its
// announcement, before a byte of it is read; one within the limit is queued.
TEST_F(ClientLimitsTest, AnImageBeyondTheSizeLimitIsRefusedBeforeItIsRead) {
  ASSERT_EQ(KvWriteRegDword("Server", "MaxFaxSize", 64 * 1024), 1);
  StartHub();
  {
    auto link = StartSubmission(0xFFFFFFF0u);
    ASSERT_NE(link, nullptr);
    // The refusal comes although no data was sent.
    WireHeader answer;
    ASSERT_TRUE(answer.Receive(*link->GetChannel()));
    EXPECT_EQ(answer.tag(), kTagError);
  }
  const std::string me = test::OwnLogin();
  EXPECT_TRUE(LogShows("[" + me + "] A file of 4294967280 bytes refused, the most is 65536"));
  EXPECT_TRUE(LogShows("[" + me + "] Operation 'Send a fax to server' failed."));
  EXPECT_TRUE(TempFilesCome(0));

  // Through the client: one byte over the limit fails, the limit itself is
  // taken (the server counts the pages of the image it keeps).
  const std::string small = TempPath("small.tif");
  test::WriteFaxFile(small, 1);
  const auto size = std::filesystem::file_size(small);
  ASSERT_LT(size, 64u * 1024);
  std::string image = test::Sandbox::readFile(small);
  const std::string atLimit = TempPath("limit.tif"), beyond = TempPath("beyond.tif");
  test::Sandbox::writeFile(atLimit, image + std::string(64 * 1024 - image.size(), '\0'));
  test::Sandbox::writeFile(beyond, image + std::string(64 * 1024 + 1 - image.size(), '\0'));
  EXPECT_NE(client_.SendFax(kServer, Header({Fax("555 0002")}), beyond).status, 0u);
  EXPECT_EQ(client_.SendFax(kServer, Header({Fax("555 0003")}), atLimit).status, 0u);
  EXPECT_TRUE(TempFilesCome(1)) << "only the queued image";
}

// A client that sends its image a block now and then, each block within the
// read time-out, is cut off at the transfer's deadline.
TEST_F(ClientLimitsTest, ATricklingTransferIsCutOffAtItsDeadline) {
  ASSERT_EQ(SetReadTimeout(60000), 1);
  ClientPipeChannel::OverrideTimeouts(60000, std::nullopt);
  ASSERT_EQ(KvWriteRegDword("Server", "TransferTimeout", 1000), 1);
  StartHub();
  constexpr uint32_t kBlocks = 1024;
  auto link = StartSubmission(kBlocks * kFileBlockSize);
  ASSERT_NE(link, nullptr);
  const std::string block(kFileBlockSize, 'i');
  // The image's blocks, at a pace that takes about 20 s for all of them,
  // until the server has gone.
  uint32_t sent = 0;
  for (uint32_t done = 0; sent < kBlocks; ++sent) {
    if (!link->GetChannel()->Write(block.data(), kFileBlockSize, &done)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_LT(sent, kBlocks) << "the transfer ran to its end";
  EXPECT_TRUE(LogShows("[" + test::OwnLogin() + "] Transfer not done within 1000 ms, cut off"));
  link.reset();
  EXPECT_TRUE(TempFilesCome(0));
}

// A client that asks for a fax and then reads nothing holds neither its
// session nor the fax for longer than the transfer's deadline: the fax can
// be fetched again.
TEST_F(ClientLimitsTest, AClientThatStopsReadingIsCutOffAtTheDeadline) {
  ASSERT_EQ(KvWriteRegDword("Server", "TransferTimeout", 2000), 1);
  StartHub();
  // An image far larger than the socket holds, for the user itself.
  const std::string image = TempPath("image.tif");
  test::WriteFaxFile(image, 1);
  const std::string bytes = test::Sandbox::readFile(image);
  test::Sandbox::writeFile(image, bytes + std::string((4u << 20) - bytes.size(), '\0'));
  ASSERT_EQ(client_.SendFax(kServer, Header({test::Lan(test::OwnLogin())}), image).status, 0u);
  const std::string list = TempPath("list.txt");
  ASSERT_EQ(client_.DownloadList(kServer, 5020, nullptr, list).status, 0u);
  const auto lines = test::ListLines(test::Sandbox::readFile(list));
  ASSERT_EQ(lines.size(), 1u);
  const std::string jobId = test::ListField(lines[0], 1);

  auto link = OpenSession(test::OwnLogin());
  ASSERT_NE(link, nullptr);
  link->SendText(4010, jobId.c_str());
  EXPECT_TRUE(LogShows("[" + test::OwnLogin() + "] Transfer not done within 2000 ms, cut off"));
  Status fetched = 1;
  for (int i = 0; i < 3000 && fetched != 0; ++i) {
    fetched = client_.GetFax(kServer, std::stoi(jobId), TempPath("got.hdr"), TempPath("got.tif")).status;
    if (fetched != 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(fetched, 0u) << "the fax stays checked out";
}

// A header's texts are held to their record limits and its recipients to
// 256; beyond them the fax is refused whole, and leaves no file.
TEST_F(ClientLimitsTest, HeaderFieldsAndRecipientsAreHeldToTheirLimits) {
  StartHub();
  const std::string image = TempPath("image.tif");
  test::WriteFaxFile(image, 1);
  auto many = [](int n) {
    std::vector<FaxSenderOrRecipient> to;
    for (int i = 0; i < n; ++i) to.push_back(Fax("555 " + std::to_string(1000 + i)));
    return to;
  };
  struct Case {
    const char* name;
    std::function<void(FaxHeader&)> change;
    Status status;
  };
  const Case cases[] = {
      {"256 recipients", [&](FaxHeader& h) { for (auto& r : many(255)) h.recipients.AddTail(r); }, 0},
      {"257 recipients", [&](FaxHeader& h) { for (auto& r : many(256)) h.recipients.AddTail(r); }, kStatusNoQueueSpace},
      {"address of 63", [](FaxHeader& h) { h.recipients.AddTail(Fax(std::string(63, '5'))); }, 0},
      {"address of 64", [](FaxHeader& h) { h.recipients.AddTail(Fax(std::string(64, '5'))); }, kStatusDbFieldTooLong},
      {"address of 60 kB", [](FaxHeader& h) { h.recipients.AddTail(Fax(std::string(60000, '5'))); },
       kStatusDbFieldTooLong},
      {"first and last name", [](FaxHeader& h) { h.recipients.AddTail(Fax("555 2", std::string(95, 'n'))); }, 0},
      {"name of 96", [](FaxHeader& h) { h.recipients.AddTail(Fax("555 2", std::string(96, 'n'))); },
       kStatusDbFieldTooLong},
      {"company of 64",
       [](FaxHeader& h) { h.recipients.AddTail(FaxSenderOrRecipient("555 3", 0, "", std::string(64, 'c'), "", "")); },
       kStatusDbFieldTooLong},
      {"phone of 32",
       [](FaxHeader& h) { h.recipients.AddTail(FaxSenderOrRecipient("555 4", 0, "", "", std::string(32, '1'), "")); },
       kStatusDbFieldTooLong},
      {"fax of 32",
       [](FaxHeader& h) { h.recipients.AddTail(FaxSenderOrRecipient("555 5", 0, "", "", "", std::string(32, '1'))); },
       kStatusDbFieldTooLong},
      {"subject of 255", [](FaxHeader& h) { h.subject = std::string(255, 's'); }, 0},
      {"subject of 256", [](FaxHeader& h) { h.subject = std::string(256, 's'); }, kStatusDbFieldTooLong},
      {"sender's name of 96", [](FaxHeader& h) { h.sender.name = std::string(96, 'm'); }, kStatusDbFieldTooLong},
  };
  size_t queued = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FaxHeader header = Header({Fax("555 0001")});
    c.change(header);
    EXPECT_EQ(client_.SendFax(kServer, header, image).status, c.status);
    queued += c.status == 0;
  }
  EXPECT_TRUE(LogShows("[" + test::OwnLogin() + "] Fax header refused: recipient 2's address beyond its limit"));
  EXPECT_TRUE(LogShows("[" + test::OwnLogin() + "] Fax header refused: 257 recipients, at most 256"));
  // The images of the queued faxes, nothing else.
  EXPECT_TRUE(TempFilesCome(queued));
  for (const auto& name : TempNames()) EXPECT_EQ(name.rfind("FAX", 0), 0u) << name;
}

// A flood of refused requests from one login leaves a few of its lines and
// their count, not a line a request: the start-up lines stay in the log.
TEST_F(ClientLimitsTest, RefusedRequestsOfOneLoginAreCollapsedInTheLog) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
  // Refused sessions close after a pause; the flood is not to be throttled
  // by the session limit here.
  ASSERT_EQ(KvWriteRegDword("Server", "MaxSessionsPerUser", 100000), 1);
  StartHub();
  constexpr int kRequests = 500;
  AsNobody([&] {
    FaxClient client;
    for (int i = 0; i < kRequests; ++i)
      ASSERT_EQ(client.DownloadList(kServer, 6000, nullptr, TempPath("list.txt")).status, kStatusNotRegisteredUser);
  });
  // The counts still open are written at shutdown.
  ASSERT_EQ(client_.SendCommand(kServer, 3000).status, 0u);
  EXPECT_EQ(hub_->Wait(), 0);
  const auto log = ServerLog();
  // Two lines a refusal: a few in full an interval, then one with the count.
  const std::string prefix = "[nobody] ", counts = " more failure lines of uid ";
  size_t full = 0, countLines = 0, counted = 0;
  for (const auto& l : log) {
    if (l.rfind(prefix, 0) != 0) continue;
    if (l.find(counts) == std::string::npos) {
      ++full;
      EXPECT_TRUE(l == "[nobody] User has no permissions" ||
                  l == "[nobody] Operation 'Get list of all outgoing faxes' failed.")
          << l;
      continue;
    }
    ++countLines;
    counted += std::stoul(l.substr(prefix.size()));
  }
  EXPECT_GE(full, 1u);
  EXPECT_EQ(full + counted, 2u * kRequests);
  EXPECT_LE(full + countLines, 12u) << "more lines than a few intervals give";
  EXPECT_EQ(Count(log, "Fax Server: Started"), 1u);
}

}  // namespace
}  // namespace korvo
