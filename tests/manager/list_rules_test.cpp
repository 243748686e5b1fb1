// The lists' texts, comparisons, commands and dialog rules without a server,
// as tables: queue and journal lines written for the test, users' rights,
// modem fields, address names, folder lists and the dialogs' OK rules.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <ostream>
#include <string>
#include <vector>

#include "common/fields.h"
#include "common/job_state.h"
#include "manager/address_book.h"
#include "manager/dialog_rules.h"
#include "manager/list_formats.h"
#include "manager/modems_list.h"
#include "manager/reg_users_book.h"
#include "manager/server_fax_list.h"
#include "manager/string_list.h"
#include "tests/manager/fake_ui.h"
#include "tests/support/sandbox.h"

namespace korvo::test {
namespace {

using manager::ItemValue;
using manager::QueueListEntry;

// A queue list line: the 15 fields as the server writes them.
std::string QueueLine(const std::string& sender, const std::string& recipient, int seconds, int state, int priority,
                      int returned) {
  std::string line;
  EncodeFields(&line,
               {"7", "42", sender, recipient, "Offer", "0", "3600", std::to_string(seconds), "3", "1",
                std::to_string(state), "2", std::to_string(priority), std::to_string(returned), "Tx (Modem)"},
               15);
  return line;
}

// --- queue and journal texts ------------------------------------------------------

struct QueueTextCase {
  std::string line;
  int column;
  const char* text;
};

void PrintTo(const QueueTextCase& c, std::ostream* os) { *os << "column " << c.column << " = " << c.text; }

class QueueTexts : public ::testing::TestWithParam<QueueTextCase> {
 protected:
  // List times in UTC, so the dates are the same wherever the test runs.
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
  }
};

TEST_P(QueueTexts, FromTheLinesFields) {
  EXPECT_EQ(manager::QueueColumnText(QueueListEntry(GetParam().line), GetParam().column), GetParam().text);
}

const std::string kPlain = QueueLine("ana", "Ivo", 59, JobState::Sending, 120, 0);
const std::string kReturned = QueueLine("ana", "Ivo", 3599, JobState::NoResponse, 120, 1);

INSTANTIATE_TEST_SUITE_P(
    Table, QueueTexts,
    ::testing::Values(QueueTextCase{kPlain, 0, "ana"}, QueueTextCase{kPlain, 1, "Ivo"},
                      QueueTextCase{kPlain, 12, "--"},
                      // A returned job comes from the server, back to its sender.
                      QueueTextCase{kReturned, 0, "Korvo Server (LAN)"}, QueueTextCase{kReturned, 1, "ana"},
                      QueueTextCase{kReturned, 12, "Ivo"}, QueueTextCase{kPlain, 2, "Tx (Modem)"},
                      // Texts keep 31 bytes, never half a character.
                      QueueTextCase{QueueLine(std::string(30, 'a') + "\xC4\x8D", "b", 0, 0, 0, 0), 0,
                                    "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"},
                      QueueTextCase{QueueLine(std::string(29, 'a') + "\xC4\x8D", "b", 0, 0, 0, 0), 0,
                                    "aaaaaaaaaaaaaaaaaaaaaaaaaaaaa\xC4\x8D"},
                      QueueTextCase{QueueLine("a", std::string(31, 'b') + "c", 0, 0, 0, 0), 1,
                                    "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb"},
                      QueueTextCase{kPlain, 3, "Offer"}, QueueTextCase{kPlain, 4, "1/01/70 12:00 AM"},
                      QueueTextCase{kPlain, 5, "1/01/70 1:00 AM"}, QueueTextCase{kPlain, 6, "0:59"},
                      QueueTextCase{kReturned, 6, "59:59"},
                      QueueTextCase{QueueLine("a", "b", 3600, 0, 0, 0), 6, "1:0:0"},
                      QueueTextCase{QueueLine("a", "b", 45296, 0, 0, 0), 6, "12:34:56"},
                      QueueTextCase{kPlain, 7, "3"}, QueueTextCase{kPlain, 8, "1"},
                      QueueTextCase{kPlain, 9, "Sending"}, QueueTextCase{kReturned, 9, "No response"},
                      QueueTextCase{QueueLine("a", "b", 0, JobState::UserCanceled, 0, 0), 9, "User canceled"},
                      QueueTextCase{kPlain, 10, "2"},
                      QueueTextCase{QueueLine("a", "b", 0, 0, 85, 0), 11, "Urgent"},
                      QueueTextCase{QueueLine("a", "b", 0, 0, 86, 0), 11, "Normal"},
                      QueueTextCase{QueueLine("a", "b", 0, 0, 170, 0), 11, "Normal"},
                      QueueTextCase{QueueLine("a", "b", 0, 0, 171, 0), 11, "Low"}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST(ListDates, TwelveHourClock) {
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(manager::FormatListDate(0), "1/01/70 12:00 AM");
  EXPECT_EQ(manager::FormatListDate(12 * 3600 + 5 * 60), "1/01/70 12:05 PM");
  EXPECT_EQ(manager::FormatListDate(946684800 + 13 * 3600 + 7 * 60), "1/01/00 1:07 PM");
}

// --- comparisons ------------------------------------------------------------------

// The rows' order after sorting items by a list's comparison.
template <class Item>
std::vector<int> SortedOrder(std::vector<Item> items, manager::CompareFunction compare, uint32_t parameter) {
  std::vector<int> order(items.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    return compare(reinterpret_cast<ItemValue>(&items[static_cast<size_t>(a)]),
                   reinterpret_cast<ItemValue>(&items[static_cast<size_t>(b)]), parameter) < 0;
  });
  return order;
}

TEST(Comparisons, UsersByNumericPermissions) {
  std::vector<RegisteredUserEntry> users(3);
  users[0].rights = 0x3F;  // "Adm. Disp. Addr. "
  users[1].rights = 0x22;  // ""
  users[2].rights = 0x26;  // "Addr. "
  manager::RegUsersBook book;
  EXPECT_EQ(SortedOrder(users, book.GetCompareFunction(), 3), (std::vector<int>{1, 2, 0}));
  EXPECT_EQ(SortedOrder(users, book.GetCompareFunction(), 0x10003), (std::vector<int>{0, 2, 1}));
}

TEST(Comparisons, ModemsEnabledFirstAndCallWaitingByShownText) {
  std::vector<ModemRecord> modems(4);
  const int waiting[] = {0, 3, 1, 2};  // None, 1170, *70, 70#
  for (int i = 0; i < 4; ++i) {
    modems[static_cast<size_t>(i)].enabled = i % 2;
    modems[static_cast<size_t>(i)].callWaiting = waiting[i];
  }
  manager::ModemsList list;
  EXPECT_EQ(SortedOrder(modems, list.GetCompareFunction(), 1), (std::vector<int>{1, 3, 0, 2}));
  EXPECT_EQ(SortedOrder(modems, list.GetCompareFunction(), 11), (std::vector<int>{2, 1, 3, 0}));
  EXPECT_EQ(manager::ModemColumnText(modems[2], 11), "*70");
}

TEST(Comparisons, AddressNamesEqualByCaseInEitherDirection) {
  std::vector<AddressEntry> entries(2);
  entries[0].lastName = "horvat";
  entries[1].lastName = "HORVAT";
  manager::LocalAddrBook book;
  for (uint32_t order : {0u, 0x10000u}) {
    const manager::CompareFunction compare = book.GetCompareFunction();
    EXPECT_EQ(compare(reinterpret_cast<ItemValue>(&entries[0]), reinterpret_cast<ItemValue>(&entries[1]), order), 0);
  }
}

TEST(Texts, PermissionsAndAddressNames) {
  EXPECT_EQ(manager::PermissionsText(0x3F), "Adm. Disp. Addr. ");
  EXPECT_EQ(manager::PermissionsText(0x22), "");
  EXPECT_EQ(manager::RightsFromChecks(false, false, false), 0x22u);
  EXPECT_EQ(manager::RightsFromChecks(false, true, false), 0x2Au);
  AddressEntry e;
  e.firstName = "Ana";
  e.lastName = "Horvat";
  manager::LocalAddrBook book;
  EXPECT_EQ(book.GetItemText(0, reinterpret_cast<ItemValue>(&e), 0), "Horvat, Ana");
  AddressEntry company;
  company.company = "Velmora";
  EXPECT_EQ(book.GetItemText(0, reinterpret_cast<ItemValue>(&company), 0), "Velmora");
}

// --- dialog rules -----------------------------------------------------------------

struct AddressOkCase {
  const char* fax;
  const char* first;
  const char* last;
  const char* company;
  bool ok;
};

void PrintTo(const AddressOkCase& c, std::ostream* os) {
  using ::testing::PrintToString;
  *os << "fax " << PrintToString(std::string(c.fax)) << ", names " << PrintToString(std::string(c.first)) << " "
      << PrintToString(std::string(c.last)) << " " << PrintToString(std::string(c.company));
}

class AddressOk : public ::testing::TestWithParam<AddressOkCase> {};

TEST_P(AddressOk, FaxAndOneName) {
  const AddressOkCase& c = GetParam();
  EXPECT_EQ(manager::AddAddressOkEnabled(c.fax, c.first, c.last, c.company), c.ok);
}

INSTANTIATE_TEST_SUITE_P(Table, AddressOk,
                         ::testing::Values(AddressOkCase{"", "Ana", "", "", false},
                                           AddressOkCase{"  \t", "Ana", "", "", false},
                                           AddressOkCase{"200", "", "", "", false},
                                           AddressOkCase{"200", " ", "\t", "\r\n", false},
                                           AddressOkCase{"200", "", "", "Velmora", true},
                                           AddressOkCase{"200", "Ana", "", "", true},
                                           AddressOkCase{"200", "", "Horvat", "", true}),
                         [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST(DialogRules, SendersUsersAndModems) {
  EXPECT_FALSE(manager::AddSenderOkEnabled(""));
  EXPECT_FALSE(manager::AddSenderOkEnabled(" \t\r\n "));
  EXPECT_TRUE(manager::AddSenderOkEnabled(" 1 "));
  EXPECT_STREQ(manager::AddSenderTitle(true), "Edit Sender");
  EXPECT_FALSE(manager::AddUserOkEnabled(""));
  EXPECT_TRUE(manager::AddUserOkEnabled("jane"));
  EXPECT_STREQ(manager::AddUserTitle(true), "Edit User's Data");
  EXPECT_STREQ(manager::AddUserTitle(false), "Add User");
  EXPECT_FALSE(manager::ModemOkEnabled(""));
  EXPECT_FALSE(manager::RingsEditEnabled(0));
  EXPECT_TRUE(manager::RingsEditEnabled(1));
  EXPECT_TRUE(manager::RingsEditEnabled(2));
  EXPECT_EQ(manager::AdvancedTitle("Edit Modem Configuration"), "Edit Modem Configuration (Advanced)");
}

// The record keeps 1 to 10 rings (the server stores 1 for more), so the
// dialog takes no more than that.
TEST(DialogRules, RingsOneToTen) {
  const std::string range = "Please enter an integer between 1 and 10.";
  for (const char* typed : {"0", "11", "15"}) {
    EXPECT_FALSE(manager::ParseRings(typed).value) << typed;
    EXPECT_EQ(manager::ParseRings(typed).message, range) << typed;
  }
  EXPECT_EQ(manager::ParseRings("1").value, 1);
  EXPECT_EQ(manager::ParseRings("10").value, 10);
}

// --- lists without a server -------------------------------------------------------

// A journal filled from lines written for the test.
class TestJournal : public manager::ServerGlobalJournal {
 public:
  static inline std::vector<std::string> lines;
  void Fill() override {
    for (const std::string& line : lines) AddItemFromText(model_->RowCount(), line.c_str(), 0);
  }
};

TEST(Journals, TotalUsageTimeOverTheSelectionOrAllRows) {
  Sandbox sandbox;
  FakeUi ui;
  manager::ListModel model(ui);
  const manager::ListClass cls{"TestJournal", &manager::CreateList<TestJournal>};
  TestJournal::lines = {};
  model.Open(cls, {"Global Journal", true, "."});
  manager::CommandUi enabled;
  ASSERT_TRUE(model.OnUpdateCommand(32865, enabled));
  EXPECT_FALSE(enabled.enabled);

  TestJournal::lines = {QueueLine("a", "b", 3000, 400, 120, 0), QueueLine("a", "b", 600, 400, 120, 0),
                        QueueLine("a", "b", 59, 400, 120, 0)};
  model.Refill();
  ASSERT_TRUE(model.OnUpdateCommand(32865, enabled));
  EXPECT_TRUE(enabled.enabled);
  model.OnCommand(32865);
  int sixHundred = -1;
  for (int i = 0; i < model.RowCount(); ++i)
    if (model.CellText(i, 6) == "10:0") sixHundred = i;
  ASSERT_GE(sixHundred, 0);
  model.SetRowState(sixHundred, manager::kRowSelected);
  model.OnCommand(32865);
  EXPECT_EQ(ui.usageShown, (std::vector<std::pair<bool, std::string>>{{false, "1:0:59"}, {true, "10:0"}}));
  // The journal's own popup: Clear Journal, always on.
  ASSERT_TRUE(model.OnUpdateCommand(32857, enabled));
  EXPECT_TRUE(enabled.enabled);
  EXPECT_EQ(model.current()->GetMenuIndex(), 10);
  EXPECT_EQ(model.GetSortCaption(), "Sort: Arrival Time");
}

TEST(FolderLists, OpeningARowOpensThatChildAndOpenWantsOneRow) {
  Sandbox sandbox;
  FakeUi ui;
  manager::ListModel model(ui);
  std::vector<int> opened;
  model.SetOpenRowHandler([&](int row) { opened.push_back(row); });
  model.Open(manager::kServerFoldersClass,
             {"alpha", true, "Fax Servers", {"Global Receiving Queue", "Global Sending Queue", "Modems"}});
  EXPECT_EQ(model.current()->GetTitle(), "Server Folders");
  EXPECT_EQ(model.current()->SettingsKey(), "Korvo Manager\\Server Folders");
  ASSERT_EQ(model.RowCount(), 3);
  EXPECT_EQ(model.CellText(2, 0), "Modems");
  model.OnDoubleClick(2);
  EXPECT_EQ(opened, (std::vector<int>{2}));

  manager::CommandUi open;
  model.SetRowState(0, manager::kRowSelected);
  model.SetRowState(1, manager::kRowSelected);
  ASSERT_TRUE(model.OnUpdateCommand(32803, open));
  EXPECT_FALSE(open.enabled);
  model.ClearRowState(0, manager::kRowSelected);
  ASSERT_TRUE(model.OnUpdateCommand(32803, open));
  EXPECT_TRUE(open.enabled);
  model.OnCommand(32803);
  EXPECT_EQ(opened, (std::vector<int>{2, 1}));

  // The user's folders keep the node's own title.
  model.Open(manager::kUserFoldersClass, {"Personal Folders", false, {}, {"Input Box", "Address Book"}});
  EXPECT_EQ(model.current()->GetTitle(), "Personal Folders");
  EXPECT_EQ(model.GetColumn(0).title, "Folder");
}

}  // namespace
}  // namespace korvo::test
