// Send and receive sessions end to end: the server's send-only port calls its
// receive-only port through the simulated exchange, with the real queue, modem
// subsystem and fax files.
#include "server/fax_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/tiff_writer.h"
#include "tests/server/session_fixture.h"

namespace korvo {
namespace {

using test::ModemClass;
namespace sim = korvo::modemsim;

class FaxSessionTest : public test::SessionTest, public ::testing::WithParamInterface<ModemClass> {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    StartEngine(GetParam().classes, Config(), GetParam().flowControl);
  }
  virtual sim::ExchangeConfig Config() { return {}; }

  std::vector<int> Ppms(const sim::CallRecord& call) {
    std::vector<int> out;
    for (auto& p : call.pages) out.push_back(p.ppm);
    return out;
  }
  // The result word of each "FAX to" log line, oldest first, with its pages.
  std::vector<std::string> SentResults() {
    std::vector<std::string> out;
    for (auto& l : LogStarting("FAX to '200' pages ")) {
      const size_t pages = std::string("FAX to '200' pages ").size();
      const size_t comma = l.find(',', pages);
      const size_t last = l.rfind(", ");
      out.push_back(l.substr(pages, comma - pages) + " " + l.substr(last + 2, l.size() - last - 3));
    }
    return out;
  }
  std::vector<int> SentSeconds() {
    std::vector<int> out;
    for (auto& l : LogStarting("FAX to '200' pages ")) {
      const size_t at = l.find(", ") + 2;
      out.push_back(std::stoi(l.substr(at)));
    }
    return out;
  }
};

// Pages of a call cross the line slowly enough for an abort to land between them.
class AbortTest : public FaxSessionTest {
 protected:
  sim::ExchangeConfig Config() override {
    sim::ExchangeConfig cfg;
    cfg.minPageTime = std::chrono::milliseconds(300);
    return cfg;
  }
};

TEST_P(FaxSessionTest, ABatchForOneNumberGoesInOneCallAndArrivesAsSeparateFaxes) {
  const uint32_t seeds[] = {1, 2, 3};
  const int pages[] = {1, 2, 1};
  for (int i = 0; i < 3; ++i) Submit(pages[i], seeds[i]);
  ASSERT_TRUE(SendAndWait(1));

  const auto calls = exchange_->calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].outcome, "completed");
  // EOM after each document another one follows, EOP after the last.
  EXPECT_EQ(Ppms(calls[0]), (std::vector<int>{1, 0, 1, 2}));
  EXPECT_EQ(SentResults(), (std::vector<std::string>{"1 OK", "2 OK", "1 OK"}));
  const auto seconds = SentSeconds();
  EXPECT_TRUE(std::is_sorted(seconds.begin(), seconds.end()));
  for (uint32_t id : {1u, 2u, 3u}) EXPECT_FALSE(HasJob(id)) << "job " << id << " completed";

  const auto in = Incoming();
  ASSERT_EQ(in.size(), 3u);
  std::vector<std::string> files;
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE("document " + std::to_string(i + 1));
    EXPECT_EQ(in[i].recipient.address, "~nobody");
    EXPECT_EQ(in[i].recipient.lan, 1);
    EXPECT_EQ(in[i].state, JobState::Ok);
    const FaxImg image = ImageOf(in[i]);
    files.push_back(image.path);
    EXPECT_EQ(image.subject, "Fax from KORVO TEST");
    EXPECT_EQ(image.sender.address, "KORVO TEST");
    EXPECT_EQ(std::filesystem::path(image.path).filename().string().substr(0, 3), "REC");
    ASSERT_EQ(CountTiffPages(image.path), pages[i]);
    for (int p = 0; p < pages[i]; ++p) EXPECT_TRUE(test::TiffRows(image.path, p) == PageRows(seeds[i], p)) << "page " << p;
  }
  std::sort(files.begin(), files.end());
  EXPECT_EQ(std::unique(files.begin(), files.end()), files.end()) << "each document has its own file";
  EXPECT_TRUE(Logged("Port " + RxPort() + " initialization done !"));
}

TEST_P(FaxSessionTest, NoCarrierEndsEveryRequestWithNoPagesAndARetry) {
  exchange_->setFaults(kTx, {.noCarrier = true});
  const uint32_t a = Submit(1, 1), b = Submit(2, 2);
  ASSERT_TRUE(SendAndWait(1));
  EXPECT_EQ(SentResults(), (std::vector<std::string>{"0 NoResponse", "0 NoResponse"}));
  for (uint32_t id : {a, b}) {
    const FaxReq job = Job(id);
    EXPECT_EQ(job.state, JobState::NoResponse);
    EXPECT_EQ(job.attemptsMade, 1);
    EXPECT_EQ(job.direction, 1);
    EXPECT_EQ(job.sending, 0);
    EXPECT_EQ(job.pages, 0);
  }
  EXPECT_TRUE(Incoming().empty());
}

TEST_P(FaxSessionTest, ADeniedCallerIsDroppedWithNothingFiled) {
  JunkSenderRecord r;
  r.stationId.Assign("KORVO TEST");
  int32_t id = 0;
  ASSERT_EQ(junk_->Add(r.Encode(), &id), kStatusSuccess);
  subsystem_->UpdateDeniedList();
  const uint32_t job = Submit(1, 1);
  ASSERT_TRUE(SendAndWait(1));
  EXPECT_TRUE(Incoming().empty());
  EXPECT_EQ(TempFiles("REC"), 0);
  const auto denied = LogStarting("FAX from 'KORVO TEST', pages 0, ");
  ASSERT_EQ(denied.size(), 1u);
  EXPECT_NE(denied[0].find(", on " + RxPort() + ", Access Denied."), std::string::npos) << denied[0];
  EXPECT_EQ(Job(job).attemptsMade, 1);  // the sender tries again later
  EXPECT_EQ(Job(job).pages, 0);
}

TEST_P(FaxSessionTest, ADocumentBrokenAfterTwoPagesIsFiledAsPartiallyReceived) {
  exchange_->setFaults(kRx, {.hangUpAfterPage = 2});
  const uint32_t job = Submit(3, 7);
  ASSERT_TRUE(SendAndWait(1));
  const auto in = Incoming();
  ASSERT_EQ(in.size(), 1u);
  EXPECT_EQ(in[0].state, JobState::PartiallyReceived);
  const FaxImg image = ImageOf(in[0]);
  EXPECT_EQ(image.subject, "<Partially received Fax>");
  ASSERT_EQ(CountTiffPages(image.path), 2);
  EXPECT_TRUE(test::TiffRows(image.path, 1) == PageRows(7, 1));
  EXPECT_FALSE(LogStarting("FAX from 'KORVO TEST', pages 2, ").empty());
  // The sender counts the two pages and tries again from the third.
  EXPECT_EQ(Job(job).state, JobState::CommunicationError);
  EXPECT_EQ(Job(job).pages, 2);
  EXPECT_EQ(SentResults(), (std::vector<std::string>{"2 CommunicationError"}));
}

// A page the receiver judges bad (RTN) was not delivered: the job is not
// reported Ok but retried from that page.
TEST_P(FaxSessionTest, APageTheReceiverRejectsCountsAsNotSent) {
  const struct {
    int rtnPage;
    int pages;  // counted as sent
    const char* result;
    int32_t state;
  } cases[] = {
      {1, 0, "0 NoResponse", JobState::NoResponse},
      {2, 1, "1 CommunicationError", JobState::CommunicationError},
      {3, 2, "2 CommunicationError", JobState::CommunicationError},  // the last page, before EOP
  };
  uint32_t seed = 7;
  std::vector<std::string> results;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rtnPage);
    exchange_->setFaults(kRx, {.rtnPage = c.rtnPage});
    const uint32_t job = Submit(3, seed++);
    ASSERT_TRUE(queue_->SchedulerPass());
    for (int i = 0; i < 12000 && HasJob(job) && Job(job).sending; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    // The sender has left the call; the line drop ends it for the receiver.
    exchange_->unplug(kTx);
    exchange_->plug(kTx);
    ASSERT_TRUE(WaitPortsBack());
    ASSERT_TRUE(HasJob(job));
    EXPECT_EQ(Job(job).state, c.state);
    EXPECT_EQ(Job(job).pages, c.pages);
    EXPECT_EQ(Job(job).attemptsMade, 1);
    results.push_back(c.result);
    EXPECT_EQ(SentResults(), results);
    queue_->DeleteJob(std::to_string(job).c_str());
  }
}

// A page whose data does not fit the receive buffer: the buffer takes what it
// holds and no more, the document ends there with the pages before it.
TEST_P(FaxSessionTest, APageLargerThanTheReceiveBufferEndsTheDocument) {
  // One-pixel runs all across: about 970 coded bytes a line.
  constexpr uint32_t kDenseLines = 600;
  const std::vector<uint8_t> dense(static_cast<size_t>(test::kPageWidth / 8) * kDenseLines, 0x55);
  const auto denseCoded = test::EncodePage(dense, test::kPageWidth, kDenseLines);
  ASSERT_GT(denseCoded.size(), kReceivedPageBufferSize);
  const std::string path = sandbox_.path("root/Queue/DENSE.TMP").string();
  {
    TiffWriter writer;
    writer.Open(path);
    PageDescriptor page;
    page.length = test::kPageLines;
    const auto first = test::EncodePage(test::TextPage(test::kPageWidth, test::kPageLines, 500), test::kPageWidth, test::kPageLines);
    writer.WritePage(page, first.data(), static_cast<uint32_t>(first.size()));
    page.length = kDenseLines;
    writer.WritePage(page, denseCoded.data(), static_cast<uint32_t>(denseCoded.size()));
    writer.Close();
  }
  const uint32_t job = SubmitFile(path, "Dense");
  ASSERT_TRUE(SendAndWait(1));

  const auto in = Incoming();
  ASSERT_EQ(in.size(), 1u);
  EXPECT_EQ(in[0].state, JobState::PartiallyReceived);
  const FaxImg image = ImageOf(in[0]);
  ASSERT_EQ(CountTiffPages(image.path), 1);
  EXPECT_TRUE(test::TiffRows(image.path, 0) == PageRows(5, 0));
  EXPECT_FALSE(LogStarting("FAX from 'KORVO TEST', pages 1, ").empty());
  // The sender has the first page confirmed and tries the second again.
  EXPECT_EQ(Job(job).state, JobState::CommunicationError);
  EXPECT_EQ(Job(job).pages, 1);
}

// The session runs at fine resolution (196 lines per inch): a page of 98
// lines per inch goes with each line twice, so it arrives at its true height;
// a fine page of the same document goes as it is.
TEST_P(FaxSessionTest, ANormalResolutionPageArrivesAtItsTrueHeight) {
  const uint16_t resolutions[] = {98, 196, 98};
  const std::string path = sandbox_.path("root/Queue/NORMAL.TMP").string();
  {
    TiffWriter writer;
    writer.Open(path);
    for (int i = 0; i < 3; ++i) {
      PageDescriptor page;
      page.length = test::kPageLines;
      page.yResolution = resolutions[i];
      const auto coded = test::EncodePage(test::TextPage(test::kPageWidth, test::kPageLines, 900 + static_cast<uint32_t>(i)),
                                          test::kPageWidth, test::kPageLines);
      writer.WritePage(page, coded.data(), static_cast<uint32_t>(coded.size()));
    }
    writer.Close();
  }
  SubmitFile(path, "Normal");
  ASSERT_TRUE(SendAndWait(1));

  const auto calls = exchange_->calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].outcome, "completed");
  ASSERT_EQ(calls[0].pages.size(), 3u);
  for (const auto& page : calls[0].pages) EXPECT_EQ(page.dcs.substr(0, 2), "1,") << "fine resolution";
  const auto in = Incoming();
  ASSERT_EQ(in.size(), 1u);
  EXPECT_EQ(in[0].state, JobState::Ok);
  const std::string received = ImageOf(in[0]).path;
  ASSERT_EQ(CountTiffPages(received), 3);
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE("page " + std::to_string(i + 1));
    const auto sent = test::BitmapRows(test::TextPage(test::kPageWidth, test::kPageLines, 900 + static_cast<uint32_t>(i)));
    std::vector<std::vector<uint8_t>> expected;
    for (const auto& row : sent)
      for (int copies = resolutions[i] == 98 ? 2 : 1; copies > 0; --copies) expected.push_back(row);
    const auto rows = test::TiffRows(received, i);
    EXPECT_EQ(rows.size(), expected.size());
    EXPECT_TRUE(rows == expected);
    EXPECT_EQ(test::TiffYResolution(received, i), 196.0f);
  }
}

TEST_P(AbortTest, AJobAbortedBeforeTheCallIsNeverDialledFor) {
  const uint32_t a = Submit(2, 1);
  Submit(1, 2);
  ports_.abortOnStart = {a};
  ASSERT_TRUE(SendAndWait(1));
  const auto calls = exchange_->calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(Ppms(calls[0]), (std::vector<int>{2}));  // straight to EOP
  EXPECT_EQ(SentResults(), (std::vector<std::string>{"0 UserCanceled", "1 OK"}));
  EXPECT_TRUE(queue_->Jobs().size() == Incoming().size());
}

TEST_P(AbortTest, AJobAbortedBetweenPagesEndsItsDocumentAndTheNextFollows) {
  const uint32_t a = Submit(4, 1);
  Submit(1, 2);
  ASSERT_TRUE(queue_->SchedulerPass());
  ASSERT_TRUE(WaitForPages(1));
  EXPECT_EQ(queue_->DeleteJob(std::to_string(a).c_str()), kStatusMarkedForDeletion);
  ASSERT_TRUE(WaitIdle(1));
  const auto calls = exchange_->calls();
  ASSERT_EQ(calls.size(), 1u);
  const auto ppms = Ppms(calls[0]);
  ASSERT_GE(ppms.size(), 3u);
  ASSERT_LE(ppms.size(), 4u);  // the aborted document stopped short
  EXPECT_EQ(ppms[ppms.size() - 2], 1);
  EXPECT_EQ(ppms.back(), 2);
  const auto results = SentResults();
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0], std::to_string(ppms.size() - 1) + " UserCanceled");
  EXPECT_EQ(results[1], "1 OK");
  EXPECT_EQ(Incoming().size(), 2u);
}

// A send cut off by the server's own stop costs its jobs no attempt, even
// the last one: the next start queues them again.
TEST_P(AbortTest, AShutdownDuringASendCostsNoAttempt) {
  SetRetryAttempts(1);
  const uint32_t cut = Submit(4, 1);
  ASSERT_TRUE(queue_->SchedulerPass());
  ASSERT_TRUE(WaitForPages(1));
  subsystem_->StopSessions();
  FaxReq job = Job(cut);
  EXPECT_EQ(job.attemptsMade, 0);
  EXPECT_EQ(job.direction, 1);
  EXPECT_EQ(job.returned, 0);
  EXPECT_TRUE(LogStarting("FAX to '200' pages ").empty());

  QueueConfig qc;
  qc.listPath = sandbox_.path("root/Queue/Queue.lst").string();
  qc.queueDir = sandbox_.path("root/Queue").string();
  qc.ports = &ports_;
  qc.periodMs = platform::kInfinite;
  queue_.reset();
  int ok = 0;
  queue_ = std::make_unique<Queue>(qc, &ok);
  g_Queue = queue_.get();
  job = Job(cut);
  EXPECT_EQ(job.state, JobState::Queued);
  EXPECT_EQ(job.sending, 0);
  EXPECT_EQ(job.attemptsMade, 0);
}

TEST_P(AbortTest, TheThirdOfFourAbortedDuringTheCallIsSkipped) {
  Submit(1, 1);
  Submit(2, 2);
  const uint32_t c = Submit(1, 3);
  Submit(1, 4);
  ASSERT_TRUE(queue_->SchedulerPass());
  ASSERT_TRUE(WaitForPages(1));
  EXPECT_EQ(queue_->DeleteJob(std::to_string(c).c_str()), kStatusMarkedForDeletion);
  ASSERT_TRUE(WaitIdle(1));
  const auto calls = exchange_->calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(Ppms(calls[0]), (std::vector<int>{1, 0, 1, 2}));
  EXPECT_EQ(SentResults(), (std::vector<std::string>{"1 OK", "2 OK", "0 UserCanceled", "1 OK"}));
  EXPECT_EQ(Incoming().size(), 3u);
}

// A Class 2 modem takes the end of a document as a command, which can fail.
using Class2Test = FaxSessionTest;

// The end of the call fails twice for the same request (EOM, then EOP), each
// time taking back a page from a document of one page: it keeps 0 pages.
TEST_P(Class2Test, FailedEndsOfACallNeverCountAPageBelowZero) {
  exchange_->setFaults(kTx, {.errorOn = {"AT+FET=1"}});
  const uint32_t a = Submit(1, 1), b = Submit(1, 2);
  ASSERT_TRUE(queue_->SchedulerPass());
  ASSERT_TRUE(WaitSendPortBack());
  EXPECT_EQ(SentResults(), (std::vector<std::string>{"0 NoResponse", "0 NoResponse"}));
  for (uint32_t id : {a, b}) {
    const FaxReq job = Job(id);
    EXPECT_EQ(job.pages, 0);
    EXPECT_EQ(job.attemptsMade, 1);
    EXPECT_EQ(job.direction, 1);
  }
}

const ModemClass kClasses[] = {{"Class2", "0,1,2"}, {"Class20", "0,1,2,2.0"}};
INSTANTIATE_TEST_SUITE_P(Classes, Class2Test, ::testing::Values(kClasses[0]),
                         [](const auto& info) { return std::string(info.param.name); });
// Page data holds XON and XOFF bytes: with software flow control they must
// pace the pages sent and stay in the pages received.
const ModemClass kClassesAndFlows[] = {{"Class2", "0,1,2"},
                                       {"Class20", "0,1,2,2.0"},
                                       {"Class2SoftwareFlow", "0,1,2", 1},
                                       {"Class20SoftwareFlow", "0,1,2,2.0", 1}};
INSTANTIATE_TEST_SUITE_P(Classes, FaxSessionTest, ::testing::ValuesIn(kClassesAndFlows),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Classes, AbortTest, ::testing::ValuesIn(kClasses),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korvo
