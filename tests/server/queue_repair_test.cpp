// Start-up over damaged queue files: nothing acknowledged is deleted, what
// can be read is queued again, and the damage is kept and reported.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "common/tiff_reader.h"
#include "server/queue.h"
#include "tests/server/queue_fixture.h"

namespace korvo {
namespace {

namespace fs = std::filesystem;
using test::Fax;

class QueueRepairTest : public test::QueueFixture {
 protected:
  void SetUp() override {
    QueueFixture::SetUp();
    tempDir_ = (root_ / "Temp").string();
    fs::create_directories(tempDir_);
  }
  // Submits a one-page fax to each number from Temp.
  void SubmitAll(const std::vector<std::string>& numbers) {
    for (const auto& number : numbers) {
      const std::string path = tempDir_ + "/FAX" + number + ".TMP";
      test::WriteFaxFile(path, 1);
      ASSERT_EQ(Q().InsertFax(path.c_str(), Header({Fax(number)}, static_cast<int32_t>(test::gClockNow)),
                              Queue::kKindSubmitted, 0, JobState::Queued),
                1);
    }
  }
  // A kill -9, the files changed as the case says, and a start, with the
  // files in Temp from before it.
  void CrashChangeAndStart(const std::function<void()>& change) {
    const std::string log = Queue::LogPath(ListPath());
    const std::string records = test::Sandbox::readFile(log);
    queue_.reset();
    fs::remove(ListPath());
    test::Sandbox::writeFile(log, records);
    change();
    const auto earlier = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (const auto& e : fs::directory_iterator(tempDir_)) fs::last_write_time(e.path(), earlier);
    Q();
  }
  std::set<std::string> Numbers() {
    std::set<std::string> out;
    for (const auto& job : Q().Jobs()) out.insert(job.recipient.address);
    return out;
  }
  std::set<std::string> Names(const fs::path& folder) {
    std::set<std::string> out;
    if (fs::exists(folder))
      for (const auto& e : fs::directory_iterator(folder)) out.insert(e.path().filename().string());
    return out;
  }
  bool Logged(const std::string& text) {
    const auto texts = LogTexts();
    return std::find(texts.begin(), texts.end(), text) != texts.end();
  }
  // Where each record of the log begins, and the log's end.
  static std::vector<size_t> RecordStarts(const std::string& log) {
    std::vector<size_t> at{0};
    while (at.back() + 8 <= log.size()) {
      uint32_t length = 0;
      for (int i = 0; i < 4; ++i) length |= static_cast<uint32_t>(static_cast<unsigned char>(log[at.back() + i])) << (8 * i);
      at.push_back(at.back() + 8 + length);
    }
    return at;
  }
};

// Four submissions in the log; one of them damaged in each way a disk can
// damage it. The intact records on either side are queued again, the images
// of the others moved aside, and the log kept whole under a new name before
// the next save replaces it.
TEST_F(QueueRepairTest, ADamagedLogRecordIsPassedOverAndKept) {
  const std::string log = Queue::LogPath(ListPath());
  const struct {
    const char* what;
    std::function<void(std::string&, const std::vector<size_t>&)> damage;
    std::set<std::string> queued;
  } cases[] = {
      {"a byte of the second record's contents flipped",
       [](std::string& b, const std::vector<size_t>& at) { b[(at[1] + 8 + at[2]) / 2] ^= 1; },
       {"5551", "5553", "5554"}},
      {"the second record's length damaged",
       [](std::string& b, const std::vector<size_t>& at) { b[at[1] + 2] = '\x7F'; },
       {"5551", "5553", "5554"}},
      {"the third record onwards zeroed",
       [](std::string& b, const std::vector<size_t>& at) { std::fill(b.begin() + at[2], b.end(), '\0'); },
       {"5551", "5552"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    queue_.reset();
    for (const auto& folder : {root_ / "Queue", root_ / "Temp", root_ / "Recovered"}) fs::remove_all(folder);
    fs::create_directories(root_ / "Queue");
    fs::create_directories(tempDir_);
    SubmitAll({"5551", "5552", "5553", "5554"});
    std::string damaged;
    CrashChangeAndStart([&] {
      damaged = test::Sandbox::readFile(log);
      c.damage(damaged, RecordStarts(damaged));
      test::Sandbox::writeFile(log, damaged);
    });
    EXPECT_EQ(Numbers(), c.queued);
    EXPECT_EQ(test::Sandbox::readFile(log + ".damaged"), damaged);
    EXPECT_TRUE(Logged("Queue log " + log + " holds damaged records, its intact records are queued again; kept as " +
                       log + ".damaged"));
    // Every image is still under the server root.
    std::set<std::string> images;
    for (const auto& number : {"5551", "5552", "5553", "5554"}) images.insert(std::string("FAX") + number + ".TMP");
    std::set<std::string> aside;
    for (const auto& name : images)
      if (!c.queued.count(name.substr(3, 4))) aside.insert(name);
    EXPECT_EQ(Names(root_ / "Recovered"), aside);
    EXPECT_TRUE(Logged("Start-up repair of " + tempDir_ + ": " + std::to_string(aside.size()) +
                       " file(s) that no queued fax names moved to " + (root_ / "Recovered").string()));
    // The next start finds the same queue, and nothing more to report.
    Restart();
    EXPECT_EQ(Numbers(), c.queued);
    EXPECT_FALSE(fs::exists(log + ".damaged.2"));
  }
}

// A log that cannot be read at all is moved aside whole, and a second one
// does not replace the first one kept.
TEST_F(QueueRepairTest, AnUnreadableLogIsKeptWhole) {
  const std::string log = Queue::LogPath(ListPath());
  SubmitAll({"5551"});
  for (const std::string& kept : {log + ".damaged", log + ".damaged.2"}) {
    CrashChangeAndStart([&] {
      fs::remove(log);
      fs::create_directory(log);  // opens, but cannot be read
      test::Sandbox::writeFile(fs::path(log) / "inside", "x");
    });
    EXPECT_TRUE(Numbers().empty());
    EXPECT_EQ(test::Sandbox::readFile(fs::path(kept) / "inside"), "x");
    EXPECT_TRUE(Logged("Queue log " + log + " cannot be read; kept as " + kept));
    EXPECT_EQ(Names(root_ / "Recovered"), (std::set<std::string>{"FAX5551.TMP"}));
    queue_.reset();
    fs::rename(root_ / "Recovered" / "FAX5551.TMP", tempDir_ + "/FAX5551.TMP");
    fs::remove(root_ / "Recovered");
    test::Sandbox::writeFile(log, "");
  }
}

}  // namespace
}  // namespace korvo
