// Calls that go wrong on the line, through a real korvohub sending to itself
// on the simulated exchange: a page too large for the receiver, and a receive
// modem that disappears during a call. An ordinary user (nobody, with the
// rights to send and to dispatch) submits and watches the faxes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/fax_header.h"
#include "common/fields.h"
#include "common/job_state.h"
#include "common/page_descriptor.h"
#include "common/userenvironment.h"
#include "common/tiff_writer.h"
#include "server/fax_session.h"
#include "tests/common/fax_pages.h"
#include "tests/server/line_hub_fixture.h"
#include "tests/server/queue_fixture.h"

namespace korvo {
namespace {

constexpr const char* kServer = ".";
constexpr uint32_t kWidth = 1728;
constexpr size_t kRx = 1;
constexpr auto kPatience = std::chrono::seconds(180);
constexpr uid_t kNobody = 65534;

// The body on a thread whose effective user is nobody (its connections carry
// nobody's credentials), with nobody's data folder.
void AsNobody(const std::function<void()>& body) {
  std::thread t([&] {
    ASSERT_EQ(syscall(SYS_setresuid, -1, kNobody, -1), 0);
    GetUserEnvironment().Load();
    body();
  });
  t.join();
}

// Fields of a queue list line.
enum : size_t { kJobId = 1, kSubject = 4, kImagePages = 8, kState = 10, kAttempts = 11 };

class LineFaultsTest : public test::LineHubFixture {
 protected:
  void SetUp() override {
    LineHubFixture::SetUp();
    if (geteuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
    // nobody reaches the server's socket and has a data folder of its own.
    std::filesystem::permissions(sandbox_.root(), std::filesystem::perms(0755));
    for (const std::filesystem::path& hive : {sandbox_.userHive(), sandbox_.machineHive()})
      std::filesystem::permissions(hive, std::filesystem::perms(0644));
    std::filesystem::create_directories(sandbox_.path("nobody"));
    ASSERT_EQ(chown(sandbox_.path("nobody").c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(KvWriteRegUserStr(nullptr, "DataPath", sandbox_.path("nobody").c_str()), 1);
    bool ok = false;
    UserDatabase users((root_ / "Config" / "RegUsers.dbs").string(), &ok);
    ASSERT_TRUE(ok);
    std::string text;
    EncodeFields(&text, {"nobody", "", "10", "", "", "", "", ""}, 8);  // own boxes, dispatching
    ASSERT_TRUE(users.AddUser(text));
  }

  // The rows of a list as nobody sees it.
  std::vector<std::vector<std::string>> Rows(uint32_t code) {
    std::vector<std::vector<std::string>> rows;
    const std::string path = sandbox_.path("nobody/list.txt").string();
    AsNobody([&] {
      FaxClient client;
      EXPECT_EQ(client.DownloadList(kServer, code, nullptr, path).status, 0u) << code;
    });
    for (auto& line : test::ListLines(test::Sandbox::readFile(path))) {
      std::vector<std::string> fields(15);
      DecodeFields(line, fields);
      rows.push_back(fields);
    }
    std::filesystem::remove(path);
    return rows;
  }
  // Waits until the list has a row the test accepts; that row.
  std::vector<std::string> WaitForRow(uint32_t code, const std::function<bool(const std::vector<std::string>&)>& accept) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < deadline) {
      for (auto& row : Rows(code))
        if (accept(row)) return row;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ADD_FAILURE() << "no such row in list " << code;
    return std::vector<std::string>(15);
  }
  // Waits until the server log holds the line n times.
  bool WaitForLog(const std::string& line, size_t n = 1) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < deadline) {
      const auto log = test::ServerLog();
      if (static_cast<size_t>(std::count(log.begin(), log.end(), line)) >= n) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  void Submit(const std::string& image, const std::string& subject) {
    FaxHeader header;
    header.sender = test::Lan("nobody");
    header.subject = subject;
    header.recipients.AddTail(test::Fax("200"));
    header.sendTime = ScheduleTimeInfo(ScheduleTimeInfo::kAtChosenTime, static_cast<int32_t>(std::time(nullptr)));
    AsNobody([&] {
      FaxClient client;
      ASSERT_EQ(client.SendFax(kServer, header, image).status, 0u);
    });
  }
  std::string RxPort() const { return exchange_->portPath(kRx).string(); }
};

// A page over the receive buffer ends the call cleanly: the receiver files
// the page before it as partially received and is back in service at once,
// nothing of the page reaches the console, and the sender counts a failed
// attempt.
TEST_F(LineFaultsTest, APageLargerThanTheReceiveBufferEndsTheCallCleanly) {
  // One-pixel runs all across: about 970 coded bytes a line.
  constexpr uint32_t kDenseLines = 1000;
  const std::vector<uint8_t> dense(static_cast<size_t>(kWidth / 8) * kDenseLines, 0x55);
  const auto denseCoded = test::EncodePage(dense, kWidth, kDenseLines);
  ASSERT_GT(denseCoded.size(), kReceivedPageBufferSize + kReceivedPageBufferSize / 2);
  const std::string image = sandbox_.path("dense.tif").string();
  {
    TiffWriter writer;
    writer.Open(image);
    PageDescriptor page;
    page.length = 200;
    const auto first = test::EncodePage(test::TextPage(kWidth, 200, 5), kWidth, 200);
    writer.WritePage(page, first.data(), static_cast<uint32_t>(first.size()));
    page.length = kDenseLines;
    for (int i = 0; i < 3; ++i) writer.WritePage(page, denseCoded.data(), static_cast<uint32_t>(denseCoded.size()));
    writer.Close();
  }
  StartHub();
  Submit(image, "Dense");

  const auto received = WaitForRow(5010, [](const auto& row) { return !row[kState].empty(); });
  EXPECT_EQ(received[kState], std::to_string(JobState::PartiallyReceived));
  EXPECT_EQ(received[kSubject], "<Partially received Fax>");
  EXPECT_EQ(received[kImagePages], "1");
  const auto sent = WaitForRow(6020, [](const auto& row) { return row[kAttempts] == "1"; });
  EXPECT_EQ(sent[kState], std::to_string(JobState::CommunicationError));

  // The port is in service: a next fax is received on it.
  const std::string small = sandbox_.path("small.tif").string();
  test::WriteFaxFile(small, 1);
  Submit(small, "Small");
  WaitForRow(5010, [](const auto& row) { return row[kState] == std::to_string(JobState::Ok); });

  hub_->Signal(SIGTERM);
  hub_->Wait();
  EXPECT_FALSE(test::ServerLogged(">>> Modem on port " + RxPort() + " is OUT_OF_SERVICE [start of time interval] !"));
  EXPECT_FALSE(test::ServerLogged("Port " + RxPort() + " initialization failed !"));
  const std::string& console = hub_->output();
  const auto binary = std::count_if(console.begin(), console.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return (b < 0x20 && b != '\n' && b != '\r' && b != '\t') || b >= 0x7F;
  });
  EXPECT_EQ(binary, 0) << "page data on the console";
}

// A receive modem that disappears during a call takes its port out of
// service with the log line of a modem that lost DSR, and the monitor brings
// it back once the modem is there again.
TEST_F(LineFaultsTest, AReceiveModemThatVanishesDuringACallIsRetriedByTheMonitor) {
  exchange_->setFaults(kRx, {.vanishOn = "AT+FDR"});
  StartHub();
  const std::string image = sandbox_.path("image.tif").string();
  test::WriteFaxFile(image, 1);
  Submit(image, "Lost");
  ASSERT_TRUE(WaitForLog(">>> Modem on port " + RxPort() + " is OUT_OF_SERVICE [start of time interval] !"));

  exchange_->setFaults(kRx, {});
  exchange_->plug(kRx);
  ASSERT_TRUE(WaitForLog("<<< Modem on port " + RxPort() + " is OUT_OF_SERVICE [end of time interval] !"));
  Submit(image, "Found");
  WaitForRow(5010, [](const auto& row) { return row[kState] == std::to_string(JobState::Ok); });
}

}  // namespace
}  // namespace korvo
