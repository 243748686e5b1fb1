// A whole fax engine over a sandboxed server root for session tests: the
// simulated exchange, a modem subsystem whose ports run the real sessions, the
// real queue (scheduler passes driven by the test), journal and server log.
#pragma once

#include <gtest/gtest.h>
#include <tiffio.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/book_records.h"
#include "common/fax_header.h"
#include "common/job_state.h"
#include "common/status_codes.h"
#include "common/tiff_reader.h"
#include "common/tiff_writer.h"
#include "server/fax_session.h"
#include "server/journal.h"
#include "server/modem_subsystem.h"
#include "server/queue.h"
#include "tests/common/fax_pages.h"
#include "tests/server/engine_fixture.h"
#include "tests/server/modem_table.h"
#include "tools/modemsim/exchange.h"

namespace korvo::test {

namespace sim = korvo::modemsim;

constexpr uint32_t kPageWidth = 1728;
constexpr uint32_t kPageLines = 200;

// Ports of the modem subsystem; requests named here are aborted as the batch
// is handed over, before the port dials.
class AbortingPorts : public SendPorts {
 public:
  int FindFreePort() override { return g_ModemSubsystem->FindFreePort(); }
  bool StartSend(int port, const char* number, std::shared_ptr<SendRequestList> list) override {
    for (auto& e : *list)
      if (abortOnStart.count(e.jobId)) e.cancelled = 1;
    return g_ModemSubsystem->StartSend(port, number, std::move(list));
  }
  void ReleasePort(int port) override { g_ModemSubsystem->ReleasePort(port); }
  bool QueryPort(int port, uint32_t jobId, int32_t* pages, int32_t* seconds, int32_t* state) override {
    return g_ModemSubsystem->QueryPort(port, jobId, pages, seconds, state);
  }
  bool AbortRequest(int port, uint32_t jobId) override { return g_ModemSubsystem->AbortRequest(port, jobId); }

  std::set<uint32_t> abortOnStart;
};

// The rows of a page (msb first, black 1) as libtiff decodes them.
inline std::vector<std::vector<uint8_t>> TiffRows(const std::string& path, int page) {
  std::vector<std::vector<uint8_t>> rows;
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return rows;
  if (TIFFSetDirectory(tif, static_cast<tdir_t>(page))) {
    uint32_t width = 0, height = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    std::vector<uint8_t> row(static_cast<size_t>(TIFFScanlineSize(tif)));
    for (uint32_t y = 0; y < height; ++y) {
      if (TIFFReadScanline(tif, row.data(), y, 0) < 0) break;
      rows.push_back(row);
    }
  }
  TIFFClose(tif);
  return rows;
}

// The lines per inch of a page as libtiff reads them; 0 when it cannot.
inline float TiffYResolution(const std::string& path, int page) {
  float resolution = 0;
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return resolution;
  if (TIFFSetDirectory(tif, static_cast<tdir_t>(page))) TIFFGetField(tif, TIFFTAG_YRESOLUTION, &resolution);
  TIFFClose(tif);
  return resolution;
}

inline std::vector<std::vector<uint8_t>> BitmapRows(const std::vector<uint8_t>& bitmap) {
  std::vector<std::vector<uint8_t>> rows;
  const size_t stride = kPageWidth / 8;
  for (size_t at = 0; at < bitmap.size(); at += stride) rows.emplace_back(bitmap.begin() + at, bitmap.begin() + at + stride);
  return rows;
}

struct ModemClass {
  const char* name;
  const char* classes;
  int flowControl = 0;  // of the server's modems: 0 hardware, 1 software (XON/XOFF)
};
inline void PrintTo(const ModemClass& c, std::ostream* os) { *os << c.name; }

class SessionTest : public EngineTest {
 protected:
  enum : size_t { kTx = 0, kRx = 1, kFar = 2 };

  // classes: the server's modems' class list; far: a third modem the test
  // drives (efax).
  void StartEngine(const char* classes, sim::ExchangeConfig cfg = {}, int flowControl = 0) {
    cfg.ringPeriod = std::chrono::milliseconds(100);
    cfg.modems.push_back({.name = "tx", .number = "100", .classes = classes});
    cfg.modems.push_back({.name = "rx", .number = "200", .classes = classes});
    cfg.modems.push_back({.name = "far", .number = "300"});
    exchange_ = std::make_unique<sim::Exchange>(cfg);
    ModemPortTiming timing = ModemPort::DefaultTiming();
    timing.serial.readTimeoutMs = 1000;
    ModemPort::SetDefaultTiming(timing);
    FaxSessionTiming session;
    session.afterDialMs = 0;
    session.beforePageMs = 0;
    session.afterErrorMs = 0;
    SetFaxSessionTiming(session);
    InstallFaxSessions();
    ModemSubsystem::SetMonitorPeriod(20);

    std::filesystem::create_directories(sandbox_.path("root/Queue"));
    SetRetryTimeout(3);
    SetRetryAttempts(5);
    int ok = 0;
    journal_ = std::make_unique<Journal>(sandbox_.path("root/Config/Journal.dbs").c_str(), &ok);
    ASSERT_EQ(ok, 1);
    g_Journal = journal_.get();
    bool booked = false;
    junk_ = std::make_unique<JunkSenderDatabase>(sandbox_.path("root/Config/Denied.dbs").string(), &booked);
    ASSERT_TRUE(booked);

    WriteModemTable(GetModemsPath(),
                    {{exchange_->portPath(kTx).string(), ModemPort::kUsageSend},
                     {exchange_->portPath(kRx).string(), ModemPort::kUsageReceive}},
                    flowControl);
    subsystem_ = std::make_unique<ModemSubsystem>(junk_.get(), &ok);
    ASSERT_EQ(ok, 1);
    g_ModemSubsystem = subsystem_.get();
    ASSERT_EQ(subsystem_->GetPort(1)->GetState(), PortState::Ready);

    QueueConfig qc;
    qc.listPath = sandbox_.path("root/Queue/Queue.lst").string();
    qc.queueDir = sandbox_.path("root/Queue").string();
    qc.ports = &ports_;
    qc.periodMs = platform::kInfinite;
    queue_ = std::make_unique<Queue>(qc, &ok);
    ASSERT_EQ(ok, 1);
    g_Queue = queue_.get();
  }
  void TearDown() override {
    subsystem_.reset();  // sessions end before what they report to
    g_ModemSubsystem = nullptr;
    queue_.reset();
    g_Queue = nullptr;
    g_Journal = nullptr;
    journal_.reset();
    junk_.reset();
    exchange_.reset();
    ModemPort::SetSessionEntryPoints(nullptr, nullptr);
    ModemSubsystem::SetMonitorPeriod(ModemSubsystem::kMonitorPeriodMs);
    EngineTest::TearDown();
  }

  // A fax file of the given pages (different text on each) in the queue folder.
  std::string Image(int pages, uint32_t seed) {
    const std::string path = sandbox_.path("root/Queue/FAX" + std::to_string(seed) + ".TMP").string();
    TiffWriter writer;
    writer.Open(path);
    for (int i = 0; i < pages; ++i) {
      PageDescriptor page;
      page.length = kPageLines;
      const auto bitmap = TextPage(kPageWidth, kPageLines, seed * 100 + static_cast<uint32_t>(i));
      const auto coded = EncodePage(bitmap, kPageWidth, kPageLines);
      writer.WritePage(page, coded.data(), static_cast<uint32_t>(coded.size()));
    }
    writer.Close();
    return path;
  }
  static std::vector<std::vector<uint8_t>> PageRows(uint32_t seed, int page) {
    return BitmapRows(TextPage(kPageWidth, kPageLines, seed * 100 + static_cast<uint32_t>(page)));
  }

  // Queues a fax of the given pages for number; returns its job id.
  uint32_t Submit(int pages, uint32_t seed, const std::string& number = "200") {
    return SubmitFile(Image(pages, seed), "Offer " + std::to_string(seed), number);
  }
  uint32_t SubmitFile(const std::string& image, const std::string& subject, const std::string& number = "200") {
    FaxHeader h;
    h.sender = FaxSenderOrRecipient("alice", 1, "", "", "", "");
    h.subject = subject;
    h.priority = FaxHeader::kPriorityNormal;
    h.sendTime = ScheduleTimeInfo(0, static_cast<int32_t>(std::time(nullptr)) - 10);
    h.recipients.AddTail(FaxSenderOrRecipient(number, 0, "", "", "", ""));
    EXPECT_EQ(queue_->InsertFax(image.c_str(), h, Queue::kKindSubmitted, 0, JobState::Queued), 1);
    return queue_->JobCounter();
  }

  // Runs one scheduler pass and waits until n calls have ended and both
  // server ports are back in service.
  bool SendAndWait(size_t calls) {
    if (!queue_->SchedulerPass()) return false;
    return WaitIdle(calls);
  }
  bool WaitIdle(size_t calls) {
    if (!exchange_->waitForCalls(calls, std::chrono::seconds(120))) return false;
    return WaitPortsBack();
  }
  // Waits until every session has ended and both server ports are back in service.
  bool WaitPortsBack() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (std::chrono::steady_clock::now() < deadline) {
      if (FaxSessionCounter::Count() == 0 && subsystem_->GetPort(0)->GetState() == PortState::OnDemand &&
          subsystem_->GetPort(1)->GetState() == PortState::Ready)
        return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  // Waits until every session has ended and the send port is back (the
  // receive port may stay out of service after a call the sender broke off).
  bool WaitSendPortBack() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (std::chrono::steady_clock::now() < deadline) {
      if (FaxSessionCounter::Count() == 0 && subsystem_->GetPort(0)->GetState() == PortState::OnDemand) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  // Waits until the call in progress has handed n pages to the far end.
  bool WaitForPages(size_t n) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
      auto calls = exchange_->calls();
      if (!calls.empty() && calls.back().pages.size() >= n) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
  }

  std::vector<FaxReq> Incoming() {
    std::vector<FaxReq> out;
    for (auto& j : queue_->Jobs())
      if (j.direction == 0) out.push_back(j);
    return out;
  }
  FaxImg ImageOf(const FaxReq& job) {
    for (auto& i : queue_->Images())
      if (i.id == job.imageId) return i;
    ADD_FAILURE() << "no image for job " << job.jobId;
    return {};
  }
  bool HasJob(uint32_t id) {
    for (auto& j : queue_->Jobs())
      if (j.jobId == id) return true;
    return false;
  }
  FaxReq Job(uint32_t id) {
    for (auto& j : queue_->Jobs())
      if (j.jobId == id) return j;
    ADD_FAILURE() << "no job " << id;
    return {};
  }
  // The log lines about sent faxes ("FAX to ..."), oldest first.
  std::vector<std::string> LogStarting(const std::string& prefix) {
    std::vector<std::string> out;
    for (auto& l : LogLines())
      if (l.rfind(prefix, 0) == 0) out.push_back(l);
    return out;
  }
  std::string TxPort() { return exchange_->portPath(kTx).string(); }
  std::string RxPort() { return exchange_->portPath(kRx).string(); }
  int TempFiles(const std::string& prefix) {
    int n = 0;
    for (auto& e : std::filesystem::directory_iterator(sandbox_.path("root/Temp")))
      if (e.path().filename().string().rfind(prefix, 0) == 0) ++n;
    return n;
  }

  std::unique_ptr<sim::Exchange> exchange_;
  std::unique_ptr<Journal> journal_;
  std::unique_ptr<JunkSenderDatabase> junk_;
  std::unique_ptr<ModemSubsystem> subsystem_;
  std::unique_ptr<Queue> queue_;
  AbortingPorts ports_;
};

}  // namespace korvo::test
