// The server's queues, journals and event log as lists, against a real
// korvohub on a simulated line paced at line speed: a job being sent and
// deleted shows "User canceled" and stays while a queued one goes; the
// journal and the log are cleared only on Yes; the log opens sorted by time.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/fax_header.h"
#include "common/job_state.h"
#include "common/userenvironment.h"
#include "manager/list_classes.h"
#include "manager/list_model.h"
#include "manager/server_fax_list.h"
#include "manager/server_log.h"
#include "tests/manager/fake_ui.h"
#include "tests/manager/hub_files.h"
#include "tests/server/line_hub_fixture.h"
#include "tests/server/queue_fixture.h"

namespace korvo::test {
namespace {

using manager::ListModel;

// One send-only modem "tx" and one receive-only "rx" (number 200); pages
// cross the line at its bit rate, each taking a second at least, so a job
// stays in its sending states long enough to be seen.
class ServerListsTest : public LineHubFixture {
 protected:
  void SetUp() override {
    LineHubFixture::SetUp();
    GetUserEnvironment().Load();
  }
  void ConfigureLine(modemsim::ExchangeConfig& cfg) override {
    cfg.pace = true;
    cfg.minPageTime = std::chrono::milliseconds(1500);
  }
  void TearDown() override {
    model_.Close();
    LineHubFixture::TearDown();
  }
  void SendFax(const std::string& subject, int pages) {
    SendFaxTo200(client_, TempPath(subject + ".tif"), subject, pages);
  }
  void Open(const char* className, const char* node) {
    model_.Open(*manager::FindListClass(className), {node, true, "."});
  }
  int RowWith(int position, const std::string& text) {
    for (int i = 0; i < model_.RowCount(); ++i)
      if (model_.CellText(i, position) == text) return i;
    return -1;
  }
  // Refreshes the list until it holds what is awaited; the server's state
  // changes on its own threads, so the list is asked again, within a bound.
  bool RefreshUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 6000; ++i) {
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      model_.Refill();
    }
    return done();
  }

  FakeUi ui_;
  ListModel model_{ui_};
};

TEST_F(ServerListsTest, DeletingAJobBeingSentCancelsItAndAQueuedOneGoes) {
  StartHub();
  SendFax("first", 3);
  Open("ServerGlobalTxQueue", "Global Sending Queue");
  // Subject is the third shown column, Status the eighth; the job is being
  // sent from its dialling on.
  ASSERT_TRUE(RefreshUntil([&] {
    const int row = RowWith(2, "first");
    if (row < 0) return false;
    const std::string state = model_.CellText(row, 7);
    for (int32_t s : {JobState::Dialing, JobState::Connecting, JobState::Negotiating, JobState::Sending})
      if (state == JobState::Name(s)) return true;
    return false;
  }));
  // The one send port is busy: the second fax waits in the queue.
  SendFax("second", 1);
  model_.Refill();
  ASSERT_EQ(model_.RowCount(), 2);
  ASSERT_EQ(model_.CellText(RowWith(2, "second"), 7), JobState::Name(JobState::Queued));

  for (int i = 0; i < 2; ++i) model_.SetRowState(i, manager::kRowSelected);
  model_.OnCommand(32782);
  ASSERT_EQ(ui_.Texts(), (std::vector<std::string>{"Are you sure you want to delete selected item(s)?",
                                                   "Not all items were deleted: 1 item(s) marked for deletion."}));
  ASSERT_EQ(model_.RowCount(), 1);
  EXPECT_EQ(model_.CellText(0, 2), "first");
  EXPECT_EQ(model_.CellText(0, 7), "User canceled");
  EXPECT_FALSE(model_.IsSelected(0));
}

TEST_F(ServerListsTest, AFaxSentTo200ReachesTheJournalWithItsUsageTimeAndClearJournalAsksFirst) {
  StartHub();
  SendFax("road", 1);
  Open("ServerGlobalJournal", "Global Journal");
  ASSERT_TRUE(RefreshUntil([&] { return RowWith(3, "road") >= 0; }));
  const std::string usage = model_.CellText(RowWith(3, "road"), 6);
  EXPECT_NE(usage, "0:0");
  model_.OnCommand(32865);
  ASSERT_EQ(ui_.usageShown.size(), 1u);
  EXPECT_FALSE(ui_.usageShown[0].first);

  const int rows = model_.RowCount();
  ui_.answers.push_back(desktop::Answer::No);
  model_.OnCommand(32857);
  EXPECT_EQ(ui_.boxes.back().caption, "Confirm Delete Journal");
  model_.Refill();
  EXPECT_EQ(model_.RowCount(), rows);
  model_.OnCommand(32857);  // Yes
  EXPECT_EQ(model_.RowCount(), 0);
}

TEST_F(ServerListsTest, TheEventLogOpensSortedByTimeAndIsClearedOnlyOnYes) {
  StartHub();
  Open("ServerLog", "Event Log");
  ASSERT_GT(model_.RowCount(), 0);
  EXPECT_EQ(model_.GetSortCaption(), "Sort: Time");
  const int started = RowWith(2, "Fax Server: Started");
  ASSERT_GE(started, 0);
  EXPECT_EQ(model_.CellText(started, 0), "Event");
  const int rows = model_.RowCount();

  ui_.answers.push_back(desktop::Answer::No);
  model_.OnCommand(manager::ServerLog::kCmdClearLog);
  ASSERT_EQ(ui_.boxes.size(), 1u);
  EXPECT_EQ(ui_.boxes[0].caption, "Confirm Delete Log");
  EXPECT_EQ(ui_.boxes[0].text, "Are you sure you want to delete the event log?");
  model_.Refill();
  EXPECT_GE(model_.RowCount(), rows);

  model_.OnCommand(manager::ServerLog::kCmdClearLog);
  EXPECT_EQ(ui_.boxes.size(), 2u);
  EXPECT_LE(model_.RowCount(), 1);  // at most the server's note of the clearing
}

}  // namespace
}  // namespace korvo::test
