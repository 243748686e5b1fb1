// The list model without a server: batches, settings, sorting, the refresh
// timer and the shortening of cell texts.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "common/settings.h"
#include "common/status_codes.h"
#include "manager/list_model.h"
#include "tests/manager/fake_ui.h"
#include "tests/support/sandbox.h"

namespace korvo::test {
namespace {

using manager::ItemValue;
using manager::ListModel;

// Items are small numbers; a cell shows the column and the number. Rows come
// from `items`, the columns from `table` shown through `order`.
struct ListSetup {
  std::vector<int> items;
  bool compare = true;
  std::vector<int> order;  // empty: no order
  int defaultSort = -1;
  bool tickWhileFilling = false;
  std::vector<std::string> calls;  // what reached the list
};
ListSetup g;

const manager::ColumnDescriptor kTable[] = {{"Number", 50}, {"Name", 80}, {"Note", 100}};

class NumberList : public manager::ListContext {
 public:
  void Fill() override {
    for (int v : g.items) model_->InsertRow(model_->RowCount(), static_cast<ItemValue>(v));
    if (g.tickWhileFilling) model_->OnTimer(1);
  }
  std::string GetItemText(int, ItemValue item, int column) override {
    return kTable[column].title + std::string(":") + std::to_string(item);
  }
  manager::CompareFunction GetCompareFunction() override {
    if (!g.compare) return nullptr;
    // Column 0 by value, the others by the value's tens only, so equal keys show stability.
    return [](ItemValue a, ItemValue b, uint32_t p) {
      const int col = static_cast<int>(p & 0xFFFF);
      const int ka = col == 0 ? static_cast<int>(a) : static_cast<int>(a) / 10;
      const int kb = col == 0 ? static_cast<int>(b) : static_cast<int>(b) / 10;
      const int r = (ka > kb) - (ka < kb);
      return (p >> 16) ? -r : r;
    };
  }
  int GetDefaultSortColumn() override { return g.defaultSort; }
  void OpenItem(int row) override { g.calls.push_back("open " + std::to_string(row)); }
  void OnDeleteItems() override { g.calls.push_back("delete"); }
  void OnUpdateDeleteItems(manager::CommandUi& ui) override { ui.Enable(model_->SelectedCount() > 0); }
  bool HandleCommand(int id) override {
    if (id != kOwnCommand) return false;
    g.calls.push_back("own");
    return true;
  }
  static constexpr int kOwnCommand = 32866;
  manager::ColumnTable GetColumnTable() override { return {kTable, 3}; }
  manager::ColumnOrder GetColumnOrder() override {
    if (g.order.empty()) return {};
    return {g.order.data(), static_cast<int>(g.order.size())};
  }
};

const manager::ListClass kNumbers{"NumberList", &manager::CreateList<NumberList>};
const manager::TreeSelection kNode{"Numbers", true, "hub"};
const char* const kKey = "Korvo Manager\\Numbers";

class ListModelTest : public ::testing::Test {
 protected:
  void SetUp() override { g = ListSetup{}; }
  std::vector<int> Items() const {
    std::vector<int> out;
    for (int i = 0; i < model_.RowCount(); ++i) out.push_back(static_cast<int>(model_.GetRow(i).item));
    return out;
  }
  uint32_t Stored(const char* name) {
    uint32_t v = 0xDEAD;
    KvReadRegUserDword(kKey, name, &v);
    return v;
  }

  Sandbox sandbox_;
  FakeUi ui_;
  ListModel model_{ui_};
};

// --- batches -------------------------------------------------------------

constexpr Status kMarked = kStatusMarkedForDeletion;
constexpr Status kFail = 0xC000140D;

struct BatchCase {
  const char* name;
  int rows;
  std::vector<int> selected;
  std::vector<Status> statuses;  // per call, in walk order (bottom up)
  std::vector<int> left;         // items left
  std::vector<int> stillSelected;
  int focused;
  std::vector<std::string> messages;
};

void PrintTo(const BatchCase& c, std::ostream* os) { *os << c.name; }

const std::string kFailText = RequestResult(kFail).text;

std::string Aborted(int n) {
  return "Processing of selected items aborted because an error occured;\n" + std::to_string(n) +
         " selected item(s) left unprocessed.";
}

class ProcessBatch : public ListModelTest, public ::testing::WithParamInterface<BatchCase> {};

TEST_P(ProcessBatch, RowsMessagesAndFocusFollowTheStatuses) {
  const BatchCase& c = GetParam();
  for (int i = 0; i < c.rows; ++i) g.items.push_back(i);
  model_.Open(kNumbers, kNode);
  for (int r : c.selected) model_.SetRowState(r, manager::kRowSelected);
  size_t call = 0;
  model_.ProcessSelectedRows(
      [&](manager::ListContext&, int, int) {
        return call < c.statuses.size() ? RequestResult(c.statuses[call++]) : RequestResult();
      },
      0);
  EXPECT_EQ(Items(), c.left);
  std::vector<int> sel;
  for (int i = 0; i < model_.RowCount(); ++i)
    if (model_.IsSelected(i)) sel.push_back(static_cast<int>(model_.GetRow(i).item));
  EXPECT_EQ(sel, c.stillSelected);
  EXPECT_EQ(model_.FirstFocused() < 0 ? -1 : static_cast<int>(model_.GetRow(model_.FirstFocused()).item), c.focused);
  EXPECT_EQ(ui_.Texts(), c.messages);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProcessBatch,
    ::testing::Values(
        BatchCase{"AllDone", 4, {1, 2}, {0, 0}, {0, 3}, {}, 0, {}},
        BatchCase{"FocusAboveTheLastRemoved", 5, {3, 4}, {0, 0}, {0, 1, 2}, {}, 2, {}},
        BatchCase{"ThreeRowsOneMarked",
                  3,
                  {0, 1, 2},
                  {0, kMarked, 0},
                  {1},
                  {},
                  1,
                  {"Not all items were deleted: 1 item(s) marked for deletion."}},
        BatchCase{"FailureOnTheSecondOfFourFromTheBottom",
                  4,
                  {0, 1, 2, 3},
                  {0, kFail},
                  {0, 1, 2},
                  {0, 1, 2},
                  0,
                  {kFailText, Aborted(3)}},
        // A row marked for deletion has been handled: it is not left unprocessed.
        BatchCase{"MarkedRowsAreNotLeftUnprocessed",
                  4,
                  {0, 1, 2, 3},
                  {kMarked, kFail},
                  {0, 1, 2, 3},
                  {0, 1, 2},
                  0,
                  {kFailText, Aborted(3), "Not all items were deleted: 1 item(s) marked for deletion."}},
        // Rows removed above the marked one move it up; the focus goes to it.
        BatchCase{"FocusFollowsTheMarkedRow",
                  4,
                  {1, 2, 3},
                  {kMarked, 0, 0},
                  {0, 3},
                  {},
                  3,
                  {"Not all items were deleted: 1 item(s) marked for deletion."}}),
    [](const auto& info) { return std::string(info.param.name); });

struct RunCase {
  const char* name;
  std::vector<int> selected;
  std::vector<Status> statuses;
  std::vector<int> stillSelected;
  std::vector<std::string> messages;
};

void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

class RunBatch : public ListModelTest, public ::testing::WithParamInterface<RunCase> {};

TEST_P(RunBatch, RowsStayAndTheCountIsReported) {
  const RunCase& c = GetParam();
  g.items = {0, 1, 2, 3};
  model_.Open(kNumbers, kNode);
  for (int r : c.selected) model_.SetRowState(r, manager::kRowSelected);
  size_t call = 0;
  model_.RunOnSelectedRows(
      [&](manager::ListContext&, int, int) {
        return call < c.statuses.size() ? RequestResult(c.statuses[call++]) : RequestResult();
      },
      0);
  EXPECT_EQ(Items(), (std::vector<int>{0, 1, 2, 3}));
  std::vector<int> sel;
  for (int i = 0; i < model_.RowCount(); ++i)
    if (model_.IsSelected(i)) sel.push_back(i);
  EXPECT_EQ(sel, c.stillSelected);
  EXPECT_EQ(ui_.Texts(), c.messages);
}

INSTANTIATE_TEST_SUITE_P(Table, RunBatch,
                         ::testing::Values(RunCase{"AllProcessed", {1, 3}, {0, 0}, {}, {"2 item(s) successfully processed"}},
                                           RunCase{"StopsAtAFailure", {0, 2, 3}, {0, kFail}, {0, 2}, {kFailText, Aborted(2)}},
                                           RunCase{"MarkedStops", {3}, {kMarked}, {3}, {RequestResult(kMarked).text, Aborted(1)}}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- settings --------------------------------------------------------------

TEST_F(ListModelTest, AColumnOrderHidesAndMovesColumnsAndSettingsFollowShownPositions) {
  g.order = {2, 0};  // "Note", then "Number"; "Name" hidden
  g.items = {3, 1, 2};
  model_.Open(kNumbers, kNode);
  ASSERT_EQ(model_.ColumnCount(), 2);
  EXPECT_EQ(model_.GetColumn(0).title, "Note");
  EXPECT_EQ(model_.GetColumn(0).width, 100);
  EXPECT_EQ(model_.GetColumn(1).title, "Number");
  EXPECT_EQ(model_.CellText(0, 1), "Number:3");
  EXPECT_EQ(model_.current()->TableColumn(0), 2);
  EXPECT_EQ(model_.current()->DisplayPosition(1), -1);
  EXPECT_EQ(model_.current()->GetServerName(), "hub");
  model_.SetColumnWidth(1, 77);
  model_.ClickColumn(1);
  model_.ClickColumn(1);
  model_.Close();
  EXPECT_EQ(Stored("Number"), 77u);
  EXPECT_EQ(Stored("Note"), 100u);
  EXPECT_EQ(Stored("Name"), 0xDEADu);
  EXPECT_EQ(Stored("Sort Column"), 1u);
  EXPECT_EQ(Stored("Sort Order"), 1u);

  model_.Open(kNumbers, kNode);
  EXPECT_EQ(model_.GetColumn(1).width, 77);
  EXPECT_EQ(model_.GetSortCaption(), "Sort: Number (inv.)");
  EXPECT_EQ(Items(), (std::vector<int>{3, 2, 1}));
}

TEST_F(ListModelTest, TheDefaultSortColumnIsTakenAtItsShownPosition) {
  g.order = {2, 0};
  g.defaultSort = 0;
  model_.Open(kNumbers, kNode);
  EXPECT_EQ(model_.sort().column, 1);
  EXPECT_EQ(model_.GetSortCaption(), "Sort: Number");
}

// An edited hive: a stored sort column beyond the shown columns is as none
// stored, in the caption and the sort alike.
TEST_F(ListModelTest, AStoredSortColumnBeyondTheShownColumnsIsTakenAsMissing) {
  ASSERT_EQ(KvWriteRegUserDword(kKey, "Sort Column", 9), 1);
  g.items = {2, 1};
  model_.Open(kNumbers, kNode);
  EXPECT_EQ(model_.sort().column, -1);
  EXPECT_EQ(model_.GetSortCaption(), "Sort: None");
  EXPECT_EQ(Items(), (std::vector<int>{2, 1}));

  model_.Close();
  g.defaultSort = 0;
  ASSERT_EQ(KvWriteRegUserDword(kKey, "Sort Column", 9), 1);
  model_.Open(kNumbers, kNode);
  EXPECT_EQ(model_.GetSortCaption(), "Sort: Number");
  EXPECT_EQ(Items(), (std::vector<int>{1, 2}));
}

struct IntervalCase {
  uint32_t stored;
  int taken;
};

void PrintTo(const IntervalCase& c, std::ostream* os) { *os << c.stored; }

class RefreshInterval : public ListModelTest, public ::testing::WithParamInterface<IntervalCase> {};

TEST_P(RefreshInterval, OutsideThreeTo36000IsSixty) {
  ASSERT_EQ(KvWriteRegUserDword(kKey, "Auto Refresh Interval", GetParam().stored), 1);
  ASSERT_EQ(KvWriteRegUserDword(kKey, "Auto Refresh Enabled", 1), 1);
  model_.Open(kNumbers, kNode);
  EXPECT_EQ(model_.refresh().interval, GetParam().taken);
  EXPECT_EQ(ui_.timerMs, GetParam().taken * 1000);
  EXPECT_EQ(manager::RefreshIntervalAccepted(GetParam().stored), GetParam().taken != 60);
  model_.Close();
  EXPECT_EQ(ui_.timerMs, 0);
  EXPECT_EQ(Stored("Auto Refresh Enabled"), 1u);
}

INSTANTIATE_TEST_SUITE_P(Table, RefreshInterval,
                         ::testing::Values(IntervalCase{2, 60}, IntervalCase{3, 3}, IntervalCase{36000, 36000},
                                           IntervalCase{36001, 60}),
                         [](const auto& info) { return "Stored" + std::to_string(info.param.stored); });

TEST_F(ListModelTest, MissingSettingsFallBackAndATimerThatCannotBeSetIsReported) {
  model_.Open(kNumbers, kNode);
  EXPECT_EQ(model_.refresh().interval, 60);
  EXPECT_EQ(model_.refresh().enabled, 0);
  EXPECT_EQ(model_.sort().column, -1);
  EXPECT_EQ(model_.GetColumn(0).width, 50);
  ui_.refuseTimer = true;
  model_.EnableRefresh();
  EXPECT_EQ(ui_.Texts(), (std::vector<std::string>{"Couldn't set the timer for automatic list updating"}));
  EXPECT_EQ(model_.refresh().enabled, 1);
}

// --- sorting ----------------------------------------------------------------

TEST_F(ListModelTest, ASecondClickInvertsAndAnotherColumnStartsAscending) {
  g.items = {21, 12, 3, 14};
  model_.Open(kNumbers, kNode);
  EXPECT_EQ(model_.GetSortCaption(), "Sort: None");
  model_.ClickColumn(0);
  EXPECT_EQ(Items(), (std::vector<int>{3, 12, 14, 21}));
  EXPECT_EQ(model_.GetSortCaption(), "Sort: Number");
  model_.ClickColumn(0);
  EXPECT_EQ(Items(), (std::vector<int>{21, 14, 12, 3}));
  EXPECT_EQ(model_.GetSortCaption(), "Sort: Number (inv.)");
  // By tens: 14 and 12 compare equal and keep their order.
  model_.ClickColumn(1);
  EXPECT_EQ(Items(), (std::vector<int>{3, 14, 12, 21}));
  EXPECT_EQ(model_.GetSortCaption(), "Sort: Name");
  model_.AddRow(0);
  EXPECT_EQ(Items(), (std::vector<int>{3, 0, 14, 12, 21}));
}

TEST_F(ListModelTest, WithoutACompareCallbackNothingIsReordered) {
  g.compare = false;
  g.items = {3, 1, 2};
  model_.Open(kNumbers, kNode);
  model_.ClickColumn(0);
  model_.ClickColumn(0);
  EXPECT_EQ(Items(), (std::vector<int>{3, 1, 2}));
  EXPECT_EQ(model_.GetSortCaption(), "Sort: Number (inv.)");
}

// --- timer --------------------------------------------------------------------

TEST_F(ListModelTest, ATickDuringATimerRefreshSwitchesRefreshOff) {
  g.items = {1};
  model_.Open(kNumbers, kNode);
  model_.EnableRefresh();
  model_.OnTimer(2);  // another timer
  g.tickWhileFilling = true;
  model_.OnTimer(1);
  EXPECT_EQ(model_.refresh().enabled, 0);
  EXPECT_EQ(model_.refresh().busy, 0);
  EXPECT_EQ(ui_.timerMs, 0);
  EXPECT_EQ(ui_.Texts(), (std::vector<std::string>{
                             "Periodical list refresh has been disabled because\na refresh operation had been "
                             "attempted while preceding\nrefresh operation is pending."}));
  EXPECT_EQ(Items(), (std::vector<int>{1}));
  model_.OnTimer(1);  // disabled: ignored
  EXPECT_EQ(ui_.boxes.size(), 1u);
}

TEST_F(ListModelTest, ATickRefillsAndFocusesTheFirstRow) {
  g.items = {1, 2};
  model_.Open(kNumbers, kNode);
  EXPECT_TRUE(model_.IsFocused(0));
  model_.EnableRefresh();
  g.items = {5, 6, 7};
  model_.OnTimer(1);
  EXPECT_EQ(Items(), (std::vector<int>{5, 6, 7}));
  EXPECT_EQ(model_.refresh().enabled, 1);
  EXPECT_EQ(ui_.waitDepth, 0);
}

// --- commands ------------------------------------------------------------------

bool Enabled(ListModel& model, int id) {
  manager::CommandUi ui;
  model.OnUpdateCommand(id, ui);
  return ui.enabled;
}

TEST_F(ListModelTest, CommandsNeedAnOpenListAndReachIt) {
  EXPECT_FALSE(Enabled(model_, manager::kCmdRefreshList));
  EXPECT_FALSE(Enabled(model_, manager::kCmdDeleteItems));
  EXPECT_FALSE(model_.OnCommand(NumberList::kOwnCommand));
  g.items = {1, 2};
  model_.Open(kNumbers, kNode);
  EXPECT_TRUE(Enabled(model_, manager::kCmdRefreshList));
  EXPECT_FALSE(Enabled(model_, manager::kCmdAddItem));  // the base disables
  EXPECT_FALSE(Enabled(model_, manager::kCmdDeleteItems));
  model_.SetRowState(1, manager::kRowSelected);
  EXPECT_TRUE(Enabled(model_, manager::kCmdDeleteItems));
  EXPECT_TRUE(model_.OnCommand(manager::kCmdDeleteItems));
  EXPECT_TRUE(model_.OnCommand(NumberList::kOwnCommand));
  EXPECT_FALSE(model_.OnCommand(40000));
  EXPECT_EQ(g.calls, (std::vector<std::string>{"delete", "own"}));
}

TEST_F(ListModelTest, EnterOpensOnlyASingleSelectedRow) {
  g.items = {1, 2, 3};
  model_.Open(kNumbers, kNode);
  model_.OnEnter();
  model_.SetRowState(2, manager::kRowSelected);
  model_.OnEnter();
  model_.SetRowState(0, manager::kRowSelected);
  model_.OnEnter();
  model_.OnDoubleClick(1);
  model_.OnDoubleClick(-1);
  EXPECT_EQ(g.calls, (std::vector<std::string>{"open 2", "open 1"}));
}

TEST_F(ListModelTest, RefreshCommandsSwitchEachOtherAndTheIntervalRestartsTheTimer) {
  model_.Open(kNumbers, kNode);
  EXPECT_TRUE(Enabled(model_, manager::kCmdEnableRefresh));
  EXPECT_FALSE(Enabled(model_, manager::kCmdDisableRefresh));
  model_.OnCommand(manager::kCmdChangeRefreshInterval);  // cancelled
  EXPECT_EQ(model_.refresh().interval, 60);
  EXPECT_EQ(ui_.timerMs, 0);
  model_.OnCommand(manager::kCmdEnableRefresh);
  EXPECT_EQ(ui_.timerMs, 60000);
  EXPECT_FALSE(Enabled(model_, manager::kCmdEnableRefresh));
  EXPECT_TRUE(Enabled(model_, manager::kCmdDisableRefresh));
  ui_.intervalAnswer = 300;
  model_.OnCommand(manager::kCmdChangeRefreshInterval);
  EXPECT_EQ(ui_.intervalAsked, (std::vector<int>{60, 60}));
  EXPECT_EQ(ui_.timerMs, 300000);
  model_.OnCommand(manager::kCmdDisableRefresh);
  EXPECT_EQ(ui_.timerMs, 0);
  model_.Close();
  EXPECT_EQ(Stored("Auto Refresh Interval"), 300u);
  EXPECT_EQ(Stored("Auto Refresh Enabled"), 0u);
}

// --- menu caption -----------------------------------------------------------------

TEST_F(ListModelTest, TheBaseHasNoPopupAndNoCaption) {
  model_.Open(kNumbers, kNode);
  EXPECT_EQ(model_.current()->GetMenuIndex(), -1);
  EXPECT_EQ(model_.current()->GetMenuCaption(), "");
  EXPECT_EQ(model_.current()->SettingsKey(), kKey);
}

// --- event log entries -----------------------------------------------------------

TEST(EventLogEntryTest, KindNumberAndTextComeFromTheThreeFields) {
  const struct {
    const char* line;
    const char* kind;
    int number;
    const char* text;
  } cases[] = {
      {"4\x1b" "12\x1b" "Fax Server Daemon started.\x1b", "Event", 12, "Fax Server Daemon started."},
      {"1\x1b" "7\x1b" "Modem not answering", "Error", 7, "Modem not answering"},
      {"2\x1b" "1765400000\x1b" "Port /dev/ttyS0 not responding !", "Error", 1765400000,
       "Port /dev/ttyS0 not responding !"},
      {"x\x1b\x1b", "Error", 0, ""},
      {"", "Error", 0, ""},
  };
  for (const auto& c : cases) {
    const manager::EventLogEntry e(c.line);
    EXPECT_EQ(e.kind, c.kind) << c.line;
    EXPECT_EQ(e.number, c.number) << c.line;
    EXPECT_EQ(e.text, c.text) << c.line;
  }
}

// --- shortening ---------------------------------------------------------------------

struct ShortCase {
  const char* text;
  int width;
  int offset;
  const char* shown;
  bool shortened;
};

void PrintTo(const ShortCase& c, std::ostream* os) { *os << '"' << c.text << "\" in " << c.width; }

class Shortening : public ::testing::TestWithParam<ShortCase> {};

TEST_P(Shortening, FixedWidthMeasure) {
  // Ten pixels a character (UTF-8 characters counted whole).
  auto measure = [](const std::string& s) {
    int n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n * 10;
  };
  bool cut = !GetParam().shortened;
  EXPECT_EQ(manager::ShortenText(GetParam().text, GetParam().width, GetParam().offset, measure, &cut),
            GetParam().shown);
  EXPECT_EQ(cut, GetParam().shortened);
}

INSTANTIATE_TEST_SUITE_P(Table, Shortening,
                         ::testing::Values(ShortCase{"abcdef", 72, 12, "abcdef", false},    // exact fit stays whole
                                           ShortCase{"abcdef", 71, 12, "ab...", true},      // 20 + 30 + 12 fits 71
                                           ShortCase{"abcdef", 10, 12, "a...", true},       // one character kept
                                           ShortCase{"", 0, 12, "...", true},
                                           ShortCase{"čćžšđ", 61, 12, "č...", true}),   // whole characters
                         [](const auto& info) { return "Case" + std::to_string(info.index); });

// Where a cell's text starts in its column: half the margin in from the side
// the column aligns to, and from the left once the text had to be cut.
struct PlaceCase {
  manager::Align align;
  int width;
  const char* shown;
  int x;
};

class Placing : public ::testing::TestWithParam<PlaceCase> {};

TEST_P(Placing, ByAlignmentUnlessShortened) {
  auto measure = [](const std::string& s) { return static_cast<int>(s.size()) * 10; };
  const manager::CellPlacement cell = manager::PlaceCellText("abcd", GetParam().width, 12, GetParam().align, measure);
  EXPECT_EQ(cell.text, GetParam().shown);
  EXPECT_EQ(cell.x, GetParam().x);
}

INSTANTIATE_TEST_SUITE_P(Table, Placing,
                         ::testing::Values(PlaceCase{manager::Align::Left, 100, "abcd", 6},
                                           PlaceCase{manager::Align::Right, 100, "abcd", 6 + 48},
                                           PlaceCase{manager::Align::Centre, 100, "abcd", 6 + 24},
                                           PlaceCase{manager::Align::Right, 52, "abcd", 6},  // exact fit
                                           PlaceCase{manager::Align::Right, 51, "a...", 6},
                                           PlaceCase{manager::Align::Centre, 51, "a...", 6}),
                         [](const auto& info) { return "Case" + std::to_string(info.index); });

}  // namespace
}  // namespace korvo::test
