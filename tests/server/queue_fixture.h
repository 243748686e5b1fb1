// A queue over a sandboxed server root with a controllable clock, a set of
// stand-in modem ports, a real journal and a real server log.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "common/page_descriptor.h"
#include "common/settings.h"
#include "common/tiff_writer.h"
#include "platform/eventlog.h"
#include "platform/sync.h"
#include "server/faxserver.h"
#include "server/journal.h"
#include "server/queue.h"
#include "server/syslog.h"
#include "tests/support/sandbox.h"

namespace korvo::test {

// Ports that take every batch and keep it; the test plays the send thread.
class FakePorts : public SendPorts {
 public:
  struct Batch {
    int port;
    std::string number;
    std::shared_ptr<SendRequestList> list;
  };

  explicit FakePorts(int count) {
    for (int i = 0; i < count; ++i) free_.insert(i);
  }
  int FindFreePort() override {
    if (free_.empty()) return -1;
    int port = *free_.begin();
    free_.erase(free_.begin());
    return port;
  }
  bool StartSend(int port, const char* number, std::shared_ptr<SendRequestList> list) override {
    if (refuseSend) return false;
    batches.push_back({port, number, std::move(list)});
    return true;
  }
  void ReleasePort(int port) override { free_.insert(port); }
  bool QueryPort(int port, uint32_t jobId, int32_t* pages, int32_t* seconds, int32_t* state) override {
    for (auto& b : batches) {
      if (b.port != port) continue;
      for (auto& e : *b.list) {
        if (e.jobId != jobId) continue;
        *pages = e.pages;
        *seconds = e.seconds;
        *state = e.cancelled ? JobState::UserCanceled : e.state;
        return true;
      }
    }
    return false;
  }
  bool AbortRequest(int port, uint32_t jobId) override {
    for (auto& b : batches)
      if (b.port == port)
        for (auto& e : *b.list)
          if (e.jobId == jobId) {
            e.cancelled = 1;
            return true;
          }
    return false;
  }
  // The batch is over: the port is free again.
  void Finish(size_t batch) { free_.insert(batches[batch].port); }

  std::vector<Batch> batches;
  bool refuseSend = false;

 private:
  std::set<int> free_;
};

inline int64_t gClockNow = 1700000000;
inline int64_t TestClock() { return gClockNow; }

// A fax file of the given number of pages (tiny white pages).
inline void WriteFaxFile(const std::filesystem::path& path, int pages) {
  TiffWriter writer;
  writer.Open(path.string());
  PageDescriptor page;
  page.length = 1;
  const uint8_t eol[] = {0x00, 0x80, 0xB2, 0x59, 0x01};  // one white line, then EOL
  for (int i = 0; i < pages; ++i) writer.WritePage(page, eol, sizeof eol);
  writer.Close();
}

inline FaxSenderOrRecipient Fax(const std::string& number, const std::string& name = "") {
  return FaxSenderOrRecipient(number, 0, name, "", "", "");
}
inline FaxSenderOrRecipient Lan(const std::string& user) { return FaxSenderOrRecipient(user, 1, "", "", "", ""); }

// The lines of a list file (each ends in CR LF).
inline std::vector<std::string> ListLines(const std::string& text) {
  std::vector<std::string> out;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find("\r\n", at);
    if (end == std::string::npos) end = text.size();
    out.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return out;
}
// Field i (from 0) of a list line.
inline std::string ListField(const std::string& line, int i) {
  size_t at = 0;
  for (int k = 0; k < i; ++k) at = line.find('\x1B', at) + 1;
  return line.substr(at, line.find('\x1B', at) - at);
}

class QueueFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    gClockNow = 1700000000;
    root_ = sandbox_.path("server");
    std::filesystem::create_directories(root_ / "Queue");
    std::filesystem::create_directories(root_ / "Config");
    int ok = 0;
    log_ = std::make_unique<SysLog>("unused.log", kSysLogMaxSize, &ok);
    g_SysLog = log_.get();
    journal_ = std::make_unique<Journal>((root_ / "Config" / "Journal.dbs").c_str(), &ok);
    g_Journal = journal_.get();
    SetRetryTimeout(3);
    SetRetryAttempts(5);
  }
  void TearDown() override {
    queue_.reset();
    g_Journal = nullptr;
    g_SysLog = nullptr;
  }

  QueueConfig Config() {
    QueueConfig c;
    c.listPath = ListPath();
    c.queueDir = (root_ / "Queue").string();
    c.ports = &ports_;
    c.clock = TestClock;
    c.periodMs = platform::kInfinite;
    c.drawCoverPage = drawer_;
    c.lockTimeoutMs = lockTimeoutMs_;
    c.tempDir = tempDir_;
    return c;
  }
  Queue& Q() {
    if (!queue_) {
      int ok = 0;
      queue_ = std::make_unique<Queue>(Config(), &ok);
      EXPECT_EQ(ok, 1);
    }
    return *queue_;
  }
  void Restart() {
    queue_.reset();
    Q();
  }
  std::string ListPath() const { return (root_ / "Queue" / "Queue.lst").string(); }

  // An image of the given pages in the queue folder.
  std::string Image(int pages, const std::string& name = "FAX0001.TMP") {
    auto path = root_ / "Queue" / name;
    WriteFaxFile(path, pages);
    return path.string();
  }
  FaxHeader Header(std::vector<FaxSenderOrRecipient> to, int32_t sendTime, uint8_t priority = 100,
                   uint32_t flags = 0) {
    FaxHeader h;
    h.sender = Lan("alice");
    h.subject = "Offer";
    h.priority = priority;
    h.flags = flags;
    h.sendTime = ScheduleTimeInfo(ScheduleTimeInfo::kAtChosenTime, sendTime);
    for (auto& r : to) h.recipients.AddTail(r);
    return h;
  }
  // Submits a fax of two pages to the recipients, due now unless told.
  uint32_t Submit(std::vector<FaxSenderOrRecipient> to, int64_t due = -1, uint8_t priority = 100) {
    static int n = 0;
    std::string path = Image(2, "FAX" + std::to_string(++n) + ".TMP");
    EXPECT_EQ(Q().InsertFax(path.c_str(), Header(to, static_cast<int32_t>(due < 0 ? gClockNow : due), priority),
                            Queue::kKindSubmitted, 0, JobState::Queued),
              1);
    return Q().JobCounter();
  }
  FaxReq Job(uint32_t id) {
    for (auto& j : Q().Jobs())
      if (j.jobId == id) return j;
    ADD_FAILURE() << "no job " << id;
    return {};
  }
  bool HasJob(uint32_t id) {
    for (auto& j : Q().Jobs())
      if (j.jobId == id) return true;
    return false;
  }
  // The journal's list lines.
  std::vector<std::string> JournalLines() {
    auto file = sandbox_.path("journal.lst");
    EXPECT_EQ(journal_->WriteList(Journal::kListAll, "", file.c_str()), 0u);
    return Lines(Sandbox::readFile(file));
  }
  std::vector<std::string> ListLines(uint32_t code, const std::string& user) {
    auto file = sandbox_.path("queue.lst");
    EXPECT_EQ(Q().WriteList(code, user.c_str(), file.c_str()), 0u);
    return Lines(Sandbox::readFile(file));
  }
  static std::vector<std::string> Lines(const std::string& text) { return test::ListLines(text); }
  static std::string Field(const std::string& line, int i) { return ListField(line, i); }
  std::vector<std::string> LogTexts() {
    std::vector<std::string> out;
    platform::EventLog log;
    if (!log.Open(SysLog::kLogName)) return out;
    log.ReadNewestFirst([&](const platform::EventRecord& r) {
      out.insert(out.begin(), r.strings.empty() ? "" : r.strings[0]);
      return true;
    });
    return out;
  }

  Sandbox sandbox_;
  std::filesystem::path root_;
  FakePorts ports_{128};
  CoverPageDrawer drawer_ = nullptr;
  uint32_t lockTimeoutMs_ = 10000;
  std::string tempDir_;  // repaired at start-up when set
  std::unique_ptr<SysLog> log_;
  std::unique_ptr<Journal> journal_;
  std::unique_ptr<Queue> queue_;
};

}  // namespace korvo::test
