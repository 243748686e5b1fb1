// The whole road of a fax through a real korvohub: submitted with FaxClient to
// two fax numbers and a LAN user with a cover page, sent by the send-only port
// through the simulated exchange, received on the receive-only port, listed for
// the dispatchers, fetched with the cover page first, and journalled; and a
// junk sender added through the server refused on the next call.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "common/cover_page.h"
#include "common/entries.h"
#include "common/fax_header.h"
#include "common/fields.h"
#include "common/job_state.h"
#include "common/tiff_reader.h"
#include "tests/server/line_hub_fixture.h"
#include "tests/server/queue_fixture.h"

namespace korvo {
namespace {

constexpr const char* kServer = ".";

class RoadTest : public test::LineHubFixture {
 protected:
  std::vector<std::vector<std::string>> Rows(uint32_t code) {
    std::vector<std::vector<std::string>> rows;
    const std::string path = TempPath("list.txt");
    EXPECT_EQ(client_.DownloadList(kServer, code, nullptr, path).status, 0u) << code;
    for (auto& line : test::ListLines(test::Sandbox::readFile(path))) {
      std::vector<std::string> fields(15);
      DecodeFields(line, fields);
      rows.push_back(fields);
    }
    std::filesystem::remove(path);
    return rows;
  }
  // Fetches a fax; its page count and the length of its first page.
  std::pair<uint16_t, uint32_t> Fetch(const std::string& jobId, FaxHeader* header) {
    const std::string hdr = TempPath("got.hdr"), tif = TempPath("got.tif");
    EXPECT_EQ(client_.GetFax(kServer, std::stoi(jobId), hdr, tif).status, 0u) << jobId;
    EXPECT_EQ(header->LoadFromFile(hdr), 1);
    TiffReader reader;
    uint16_t pages = 0;
    PageDescriptor first;
    EXPECT_NO_THROW(reader.Open(tif, pages, first));
    reader.Close();
    std::filesystem::remove(hdr);
    std::filesystem::remove(tif);
    return {pages, first.length};
  }
};

TEST_F(RoadTest, SubmittedFaxIsSentReceivedListedFetchedAndJournalled) {
  StartHub();
  const std::string me = test::OwnLogin();
  const std::string image = TempPath("image.tif");
  test::WriteFaxFile(image, 2);
  FaxHeader header;
  header.sender = test::Lan(me);
  header.subject = "Road";
  header.flags |= FaxHeader::kSendCoverPage;
  // Two numbers that both dial the receiving modem.
  for (auto& to : {test::Fax("200", "Ana"), test::Fax("2-00", "Ivo"), test::Lan(me)}) header.recipients.AddTail(to);
  header.sendTime = ScheduleTimeInfo(ScheduleTimeInfo::kAtChosenTime, static_cast<int32_t>(std::time(nullptr)));
  ASSERT_EQ(client_.SendFax(kServer, header, image).status, 0u);
  std::map<std::string, std::string> outgoing;  // recipient: job id
  for (auto& row : Rows(6000)) outgoing[row[3]] = row[1];
  ASSERT_EQ(outgoing.size(), 2u);
  ASSERT_EQ(Rows(5020).size(), 1u);

  // Both calls ended and their faxes filed for the dispatchers.
  ASSERT_TRUE(exchange_->waitForCalls(2, std::chrono::seconds(120)));
  std::vector<std::vector<std::string>> received;
  for (int i = 0; i < 12000 && (received = Rows(5010)).size() < 2; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(received.size(), 2u);
  for (int i = 0; i < 12000 && !Rows(6000).empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(Rows(6000).empty());
  for (auto& call : exchange_->calls()) {
    EXPECT_EQ(call.outcome, "completed") << call.dialled;
    EXPECT_EQ(call.pages.size(), 2u) << call.dialled;
  }

  for (auto& row : received) {
    EXPECT_EQ(row[14], "Rx (Modem)");
    FaxHeader got;
    auto [pages, first] = Fetch(row[1], &got);
    EXPECT_EQ(pages, 2u);
    EXPECT_EQ(first, kCoverPageLines);  // the cover page went over the line in place of page 0
  }
  // A fetched fax leaves its list once the server has the client's final Ok,
  // which the client sends without waiting for an answer.
  for (int i = 0; i < 12000 && !Rows(5010).empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(Rows(5010).empty());
  auto mine = Rows(5020);
  ASSERT_EQ(mine.size(), 1u);
  {
    FaxHeader got;
    auto [pages, first] = Fetch(mine[0][1], &got);
    EXPECT_EQ(pages, 2u);  // the recipient's own cover page as page 0
    EXPECT_EQ(first, kCoverPageLines);
    EXPECT_EQ(got.subject, "Road");
  }

  // One entry per job: the two calls sent, the LAN copy and both received
  // faxes delivered. A fetch is journalled after the client's final Ok.
  std::vector<std::vector<std::string>> journal;
  for (int i = 0; i < 12000 && (journal = Rows(2210)).size() < 5; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::map<std::string, std::string> entries;  // job id: recipient, transport, state
  for (auto& row : journal) entries[row[1]] = row[3] + " | " + row[14] + " | " + row[10];
  const std::string ok = std::to_string(JobState::Ok);
  EXPECT_EQ(entries, (std::map<std::string, std::string>{
                         {outgoing["Ana"], "Ana | Tx (Modem) | " + ok},
                         {outgoing["Ivo"], "Ivo | Tx (Modem) | " + ok},
                         {mine[0][1], me + " | Tx/Rx (LAN) | " + ok},
                         {received[0][1], "~nobody | Rx (Modem) | " + ok},
                         {received[1][1], "~nobody | Rx (Modem) | " + ok},
                     }));
  for (auto& row : journal) {
    if (row[14] == "Tx (Modem)") {
      EXPECT_EQ(row[9], "2") << row[1];  // both pages went out
    }
  }

  // The queue lets go of every image it no longer needs on its next pass.
  for (int i = 0; i < 12000 && !std::filesystem::is_empty(root_ / "Temp"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(std::filesystem::is_empty(root_ / "Temp"));
  ASSERT_EQ(client_.SendCommand(kServer, 3000).status, 0u);
  EXPECT_EQ(hub_->Wait(), 0);
}

// A junk sender added through the server is refused from the next call on,
// without a restart: the add rebuilds the ports' denied list.
TEST_F(RoadTest, AJunkSenderAddedThroughTheServerIsRefusedAtOnce) {
  StartHub();
  // The server's own send modem introduces itself with the station identifier.
  ASSERT_EQ(client_.SetServerParameters(kServer, {"KORVO ROAD", 2, 10}).status, 0u);
  JunkSenderEntry junk;
  junk.stationId = "KORVO ROAD";
  int32_t id = 0;
  ASSERT_EQ(client_.AddJunkSender(kServer, junk, id).status, 0u);

  const std::string image = TempPath("image.tif");
  test::WriteFaxFile(image, 1);
  FaxHeader header;
  header.sender = test::Lan(test::OwnLogin());
  header.recipients.AddTail(test::Fax("200"));
  header.sendTime = ScheduleTimeInfo(ScheduleTimeInfo::kAtChosenTime, static_cast<int32_t>(std::time(nullptr)));
  ASSERT_EQ(client_.SendFax(kServer, header, image).status, 0u);
  ASSERT_TRUE(exchange_->waitForCalls(1, std::chrono::seconds(120)));
  auto refused = [] {
    for (const auto& line : test::ServerLog())
      if (line.rfind("FAX from 'KORVO ROAD', pages 0, ", 0) == 0 && line.find("Access Denied.") != std::string::npos)
        return true;
    return false;
  };
  for (int i = 0; i < 12000 && !refused(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(refused());
  EXPECT_TRUE(Rows(5010).empty());
}

}  // namespace
}  // namespace korvo
