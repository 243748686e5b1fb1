// The server root and everything under it are the server's alone (folders
// 0700, files 0600) whatever the umask the server starts with: queued and
// received images, cover pages, Queue.lst and the books. The socket, the
// event log store and the hives keep the modes their readers need.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/fax_header.h"
#include "common/fields.h"
#include "tests/server/line_hub_fixture.h"
#include "tests/server/queue_fixture.h"

namespace korvo {
namespace {

namespace fs = std::filesystem;

unsigned ModeOf(const fs::path& p) {
  struct stat st {};
  return ::lstat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 0xFFFF;
}

class FileModesTest : public test::LineHubFixture, public ::testing::WithParamInterface<mode_t> {
 protected:
  void TearDown() override {
    LineHubFixture::TearDown();
    ::umask(saved_);
  }
  size_t Listed(uint32_t code) {
    const std::string path = TempPath("list.txt");
    if (client_.DownloadList(".", code, nullptr, path).status != 0) return 0;
    size_t n = 0;
    for (const auto& line : test::ListLines(test::Sandbox::readFile(path))) n += !line.empty();
    return n;
  }
  mode_t saved_ = ::umask(022);
};

TEST_P(FileModesTest, TheServerRootIsPrivateAfterAStartAndAReceivedFax) {
  // An older server's root, open to everybody.
  fs::create_directories(root_ / "Queue");
  fs::permissions(root_, fs::perms(0755));
  fs::permissions(root_ / "Queue", fs::perms(0777));
  const unsigned hiveMode = ModeOf(sandbox_.machineHive());
  ::umask(GetParam());
  StartHub();
  const std::string image = TempPath("image.tif");
  test::WriteFaxFile(image, 1);
  FaxHeader header;
  header.sender = test::Lan(test::OwnLogin());
  header.subject = "Modes";
  header.flags |= FaxHeader::kSendCoverPage;
  header.recipients.AddTail(test::Fax("200"));
  ASSERT_EQ(client_.SendFax(".", header, image).status, 0u);
  // A second fax waits until tomorrow, so the queue keeps its image and cover page.
  header.sendTime = ScheduleTimeInfo(ScheduleTimeInfo::kAtChosenTime, static_cast<int32_t>(std::time(nullptr)) + 86400);
  ASSERT_EQ(client_.SendFax(".", header, image).status, 0u);
  ASSERT_TRUE(exchange_->waitForCalls(1, std::chrono::seconds(120)));
  for (int i = 0; i < 12000 && Listed(5010) < 1; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(Listed(5010), 1u) << "the received fax is queued for the dispatchers";

  std::vector<std::string> open;
  size_t files = 0;
  auto check = [&](const fs::path& p) {
    const unsigned mode = ModeOf(p);
    if (mode == 0xFFFF) return;  // a file the server replaced meanwhile
    const bool dir = fs::is_directory(fs::symlink_status(p));
    files += !dir;
    char octal[8];
    std::snprintf(octal, sizeof octal, "%o", mode);
    if (mode != (dir ? 0700u : 0600u)) open.push_back(p.string() + " " + octal);
  };
  check(root_);
  std::error_code ec;
  for (fs::recursive_directory_iterator it(root_, ec), end; !ec && it != end; it.increment(ec)) check(it->path());
  EXPECT_FALSE(ec) << ec.message();
  EXPECT_TRUE(open.empty()) << ::testing::PrintToString(open);
  // Books, journal, Queue.lst, the waiting fax's image and cover page, the received image.
  EXPECT_GE(files, 8u);

  // What the clients read or reach stays theirs.
  EXPECT_EQ(ModeOf(sandbox_.pipeDir()), 0755u);
  EXPECT_EQ(ModeOf(sandbox_.pipeDir() / "Korvo"), 0666u);
  EXPECT_EQ(ModeOf(sandbox_.machineHive()), hiveMode);
  EXPECT_EQ(ModeOf(sandbox_.logDir() / "Korvo.evt"), 0640u & ~GetParam());
}

INSTANTIATE_TEST_SUITE_P(Umask, FileModesTest, ::testing::Values(mode_t{000}, mode_t{022}),
                         [](const auto& info) { return "Umask0" + std::to_string(info.param / 8 % 8) + std::to_string(info.param % 8); });

}  // namespace
}  // namespace korvo
