// The books against a real korvohub and a local book: the denied senders,
// the registered users, the global and local address books and the modems.
// Every add, copy, edit and delete reaches the server's file (or LocBook.kvb)
// and the list only when it was accepted; a refusal shows the server's text
// and leaves the list as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/book_records.h"
#include "common/database.h"
#include "common/user_record.h"
#include "common/userenvironment.h"
#include "manager/address_book.h"
#include "manager/junk_senders_book.h"
#include "manager/list_classes.h"
#include "manager/modems_list.h"
#include "manager/reg_users_book.h"
#include "tests/manager/fake_ui.h"
#include "tests/manager/hub_files.h"
#include "tests/server/hub_fixture.h"

namespace korvo::test {
namespace {

using manager::ListModel;

class BooksTest : public HubFixture {
 protected:
  void SetUp() override {
    HubFixture::SetUp();
    GetUserEnvironment().Load();
  }
  // A registered user of the server, before the hub starts.
  void Register(const std::string& name, uint32_t rights) {
    bool ok = false;
    UserDatabase users((root_ / "Config" / "RegUsers.dbs").string(), &ok);
    ASSERT_TRUE(ok);
    std::string text;
    EncodeFields(&text, {name, "", std::to_string(rights), "", "", "", "", ""}, 8);
    ASSERT_TRUE(users.AddUser(text));
  }
  void Open(const char* className, const char* node) {
    const manager::ListClass* cls = manager::FindListClass(className);
    ASSERT_NE(cls, nullptr) << className;
    model_.Open(*cls, {node, true, "."});
  }
  std::vector<std::string> Column(int position) {
    std::vector<std::string> out;
    for (int i = 0; i < model_.RowCount(); ++i) out.push_back(model_.CellText(i, position));
    return out;
  }
  void Select(std::initializer_list<int> rows) {
    for (int i = 0; i < model_.RowCount(); ++i) model_.ClearRowState(i, manager::kRowSelected);
    for (int r : rows) model_.SetRowState(r, manager::kRowSelected);
  }
  bool Enabled(int id) {
    manager::CommandUi ui;
    EXPECT_TRUE(model_.OnUpdateCommand(id, ui)) << id;
    return ui.enabled;
  }
  std::filesystem::path Config(const char* name) { return root_ / "Config" / name; }

  FakeUi ui_;
  ListModel model_{ui_};
};

// A user's rights in the server's file; 0 when he is not there.
uint32_t RightsOf(const std::filesystem::path& file, const std::string& name) {
  for (auto& r : Records<UserRecord>(file, CompareUserNames))
    if (r.userName.Str() == name) return r.rights;
  return 0;
}

// --- junk senders ---------------------------------------------------------------

std::vector<std::string> Senders(const std::filesystem::path& file) {
  std::vector<std::string> out;
  for (auto& r : Records<JunkSenderRecord>(file, CompareSerialIds))
    out.push_back(r.stationId.Str() + "|" + r.description.Str());
  return out;
}

TEST_F(BooksTest, JunkSendersAreAddedEditedAndDeletedOnTheServerFirst) {
  StartHub();
  Open("JunkSendersBook", "Denied Access Book");
  EXPECT_EQ(model_.RowCount(), 0);
  EXPECT_TRUE(Enabled(32866));
  EXPECT_FALSE(Enabled(32868));
  EXPECT_FALSE(Enabled(32867));

  // Add: the dialog opens empty, in add mode.
  ui_.senderDialog = [](JunkSenderEntry& e, bool edit) {
    EXPECT_FALSE(edit);
    EXPECT_EQ(e.stationId, "");
    e.stationId = "+385 1 999";
    e.description = "Spam Ltd";
    return true;
  };
  model_.OnCommand(32866);
  EXPECT_EQ(Senders(Config("Denied.dbs")), (std::vector<std::string>{"+385 1 999|Spam Ltd"}));
  ASSERT_EQ(Column(0), (std::vector<std::string>{"+385 1 999"}));
  auto& book = *static_cast<manager::JunkSendersBook*>(model_.current());
  const int32_t id = book.EntryAt(0).id;
  EXPECT_NE(id, 0);

  // Edit keeps the id; only the two texts change.
  Select({0});
  EXPECT_TRUE(Enabled(32868));
  ui_.senderDialog = [](JunkSenderEntry& e, bool edit) {
    EXPECT_TRUE(edit);
    EXPECT_EQ(e.stationId, "+385 1 999");
    e.description = "Spam d.o.o.";
    return true;
  };
  model_.OnCommand(32868);
  EXPECT_EQ(Senders(Config("Denied.dbs")), (std::vector<std::string>{"+385 1 999|Spam d.o.o."}));
  EXPECT_EQ(Column(1), (std::vector<std::string>{"Spam d.o.o."}));
  EXPECT_EQ(book.EntryAt(0).id, id);

  // Cancel changes nothing; Delete asks, then goes.
  ui_.senderDialog = nullptr;
  model_.OnCommand(32866);
  EXPECT_EQ(model_.RowCount(), 1);
  model_.OnCommand(32867);
  ASSERT_EQ(ui_.boxes.size(), 1u);
  EXPECT_EQ(ui_.boxes[0].caption, "Confirm Delete Item(s)");
  EXPECT_EQ(model_.RowCount(), 0);
  EXPECT_TRUE(Senders(Config("Denied.dbs")).empty());
}

// A book as a user registered with only his own boxes sees it (the server
// keeps every right for its own login, the test's).
template <class Book>
class JoesBook : public Book {
 public:
  void Fill() override {
    this->client_.ActForUser(this->serverName_.c_str(), "joe");
    Book::Fill();
  }
};

// A login registered with only its own boxes changes no book of the server:
// the server's text is shown and the list and the file stay as they were.
TEST_F(BooksTest, ALoginWithoutRightsIsRefusedAndTheListStays) {
  Register("joe", 0x22);
  StartHub();
  const struct {
    manager::ListClass cls;
    int add;
    std::filesystem::path file;
  } books[] = {
      {{"JoesSenders", &manager::CreateList<JoesBook<manager::JunkSendersBook>>}, 32866, Config("Denied.dbs")},
      {{"JoesUsers", &manager::CreateList<JoesBook<manager::RegUsersBook>>}, 32786, Config("RegUsers.dbs")},
      {{"JoesAddresses", &manager::CreateList<JoesBook<manager::GlobalAddrBook>>}, 32783,
       root_ / "Books" / "Address.bok"},
  };
  ui_.senderDialog = [](JunkSenderEntry& e, bool) {
    e.stationId = "123";
    return true;
  };
  ui_.userDialog = [](RegisteredUserEntry& e, bool) {
    e.userName = "jane";
    return true;
  };
  ui_.addressDialog = [](AddressEntry& e, const std::string&) {
    e.lastName = "Horvat";
    e.faxNumber = "200";
    return true;
  };
  for (const auto& book : books) {
    SCOPED_TRACE(book.cls.name);
    const auto before = std::filesystem::exists(book.file) ? std::filesystem::file_size(book.file) : 0;
    model_.Open(book.cls, {"Book", true, "."});
    const int rows = model_.RowCount();
    ui_.boxes.clear();
    model_.OnCommand(book.add);
    EXPECT_EQ(model_.RowCount(), rows);
    ASSERT_EQ(ui_.boxes.size(), 1u);
    EXPECT_NE(ui_.boxes[0].text.find("permissions"), std::string::npos) << ui_.boxes[0].text;
    EXPECT_EQ(std::filesystem::exists(book.file) ? std::filesystem::file_size(book.file) : 0, before);
  }
  EXPECT_EQ(RightsOf(Config("RegUsers.dbs"), "jane"), 0u);
}

// --- registered users -----------------------------------------------------------

TEST_F(BooksTest, UsersAreAddedWithTheirRightsEditedAndRefusedByTheServersRules) {
  StartHub();
  Open("RegUsersBook", "Registered Users");
  const int before = model_.RowCount();
  ASSERT_GE(before, 2);  // the administrator and the test's own login

  ui_.userDialog = [](RegisteredUserEntry& e, bool edit) {
    EXPECT_FALSE(edit);
    e.userName = "jane";
    e.fullName = "Jane Doe";
    e.rights = kRightDispatch;  // the ticked box
    return true;
  };
  model_.OnCommand(32786);
  EXPECT_EQ(RightsOf(Config("RegUsers.dbs"), "jane"), 0x2Au);
  ASSERT_EQ(model_.RowCount(), before + 1);

  // The same name again is refused; the list keeps its rows.
  model_.OnCommand(32786);
  ASSERT_EQ(ui_.boxes.size(), 1u);
  EXPECT_FALSE(ui_.boxes[0].text.empty());
  EXPECT_EQ(model_.RowCount(), before + 1);

  // Edited with every box cleared: 0x22.
  int jane = -1;
  for (int i = 0; i < model_.RowCount(); ++i)
    if (model_.CellText(i, 0) == "jane") jane = i;
  ASSERT_GE(jane, 0);
  EXPECT_EQ(model_.CellText(jane, 3), "Disp. ");
  Select({jane});
  ui_.userDialog = [](RegisteredUserEntry& e, bool edit) {
    EXPECT_TRUE(edit);
    EXPECT_EQ(e.userName, "jane");
    e.rights = 0;
    return true;
  };
  model_.OnCommand(32788);
  EXPECT_EQ(RightsOf(Config("RegUsers.dbs"), "jane"), 0x22u);
  EXPECT_EQ(model_.CellText(model_.FirstSelected(), 3), "");

  // The administrator cannot be deleted.
  int admin = -1;
  for (int i = 0; i < model_.RowCount(); ++i)
    if (model_.CellText(i, 0) == "Administrator") admin = i;
  ASSERT_GE(admin, 0);
  Select({admin});
  ui_.boxes.clear();
  model_.OnCommand(32787);
  ASSERT_GE(ui_.boxes.size(), 2u);  // the question, then the refusal
  EXPECT_EQ(model_.RowCount(), before + 1);
  EXPECT_NE(RightsOf(Config("RegUsers.dbs"), "Administrator"), 0u);

  // jane goes from the file and the list.
  jane = -1;
  for (int i = 0; i < model_.RowCount(); ++i)
    if (model_.CellText(i, 0) == "jane") jane = i;
  ASSERT_GE(jane, 0);
  Select({jane});
  model_.OnCommand(32787);
  EXPECT_EQ(RightsOf(Config("RegUsers.dbs"), "jane"), 0u);
  EXPECT_EQ(model_.RowCount(), before);
}

// --- address books --------------------------------------------------------------

std::vector<std::string> Addresses(const std::filesystem::path& file) {
  std::vector<std::string> out;
  for (auto& r : Records<AddressRecord>(file, CompareAddressIds))
    out.push_back(r.firstName.Str() + " " + r.lastName.Str() + "|" + r.faxNumber.Str());
  return out;
}

class AddressBooks : public BooksTest, public ::testing::WithParamInterface<bool> {};

TEST_P(AddressBooks, AddCopyEditAndDeleteReachTheBook) {
  const bool global = GetParam();
  if (global) StartHub();
  Open(global ? "GlobalAddrBook" : "LocalAddrBook", global ? "Global Address Book" : "Address Book");
  const std::filesystem::path file =
      global ? root_ / "Books" / "Address.bok" : std::filesystem::path(GetUserEnvironment().GetLocalBookPath());

  ui_.addressDialog = [](AddressEntry& e, const std::string& title) {
    EXPECT_EQ(title, "Add Address");
    e.firstName = "Ana";
    e.lastName = "Horvat";
    e.faxNumber = "200";
    return true;
  };
  model_.OnCommand(32783);
  ASSERT_EQ(Column(0), (std::vector<std::string>{"Horvat, Ana"}));
  EXPECT_EQ(Addresses(file), (std::vector<std::string>{"Ana Horvat|200"}));

  // A copy starts with the row's texts and gets an id of its own.
  Select({0});
  EXPECT_TRUE(Enabled(32869));
  ui_.addressDialog = [](AddressEntry& e, const std::string& title) {
    EXPECT_EQ(title, "Copy Address");
    EXPECT_EQ(e.firstName, "Ana");
    e.firstName = "Ivo";
    return true;
  };
  model_.OnCommand(32869);
  ASSERT_EQ(model_.RowCount(), 2);
  auto& book = *static_cast<manager::AddressBook*>(model_.current());
  EXPECT_NE(book.EntryAt(0).id, book.EntryAt(1).id);
  EXPECT_EQ(Addresses(file).size(), 2u);

  // Two rows selected: Copy and Edit off, Delete on.
  Select({0, 1});
  EXPECT_FALSE(Enabled(32869));
  EXPECT_FALSE(Enabled(32785));
  EXPECT_TRUE(Enabled(32784));

  Select({1});
  ui_.addressDialog = [](AddressEntry& e, const std::string& title) {
    EXPECT_EQ(title, "Edit Address");
    e.faxNumber = "201";
    return true;
  };
  model_.OnCommand(32785);
  EXPECT_EQ(Addresses(file), (std::vector<std::string>{"Ana Horvat|200", "Ivo Horvat|201"}));

  Select({0, 1});
  model_.OnCommand(32784);
  EXPECT_EQ(model_.RowCount(), 0);
  EXPECT_TRUE(Addresses(file).empty());
}

INSTANTIATE_TEST_SUITE_P(Books, AddressBooks, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Global" : "Local"; });

// --- modems ---------------------------------------------------------------------

TEST_F(BooksTest, ModemsAreAddedCopiedEditedAndDeletedThroughTheirDialog) {
  StartHub();
  Open("ModemsList", "Modems");
  EXPECT_EQ(model_.RowCount(), 0);
  // The dialog sends its own request; a disabled configuration needs no port.
  ui_.modemDialog = [](ModemRecord& r, bool edit, const std::string& title, const std::string& server) {
    EXPECT_FALSE(edit);
    EXPECT_EQ(title, "Add Modem Configuration");
    EXPECT_EQ(r.portName.Str(), "COM1");
    EXPECT_EQ(r.modemName.Str(), "Standard Fax Modem");
    r.portName.Assign("/dev/null-modem-a");
    r.enabled = 0;
    return manager::SubmitModem(r, edit, server).status == 0;
  };
  model_.OnCommand(32789);
  ASSERT_EQ(model_.RowCount(), 1);
  EXPECT_EQ(model_.CellText(0, 0), "/dev/null-modem-a");
  EXPECT_EQ(model_.CellText(0, 1), "No");

  Select({0});
  ui_.modemDialog = [](ModemRecord& r, bool edit, const std::string& title, const std::string& server) {
    EXPECT_FALSE(edit);
    EXPECT_EQ(title, "Copy Modem Configuration");
    r.portName.Assign("/dev/null-modem-b");
    return manager::SubmitModem(r, edit, server).status == 0;
  };
  model_.OnCommand(32808);
  ASSERT_EQ(model_.RowCount(), 2);

  // Cancel after changes leaves the row.
  const std::string volume = model_.CellText(0, 12);
  Select({0});
  ui_.modemDialog = [](ModemRecord& r, bool, const std::string&, const std::string&) {
    r.speakerVolume = r.speakerVolume == 2 ? 0 : 2;
    return false;
  };
  model_.OnCommand(32791);
  EXPECT_EQ(model_.CellText(0, 12), volume);
  ui_.modemDialog = [](ModemRecord& r, bool edit, const std::string& title, const std::string& server) {
    EXPECT_TRUE(edit);
    EXPECT_EQ(title, "Edit Modem Configuration");
    r.ringsBeforeAnswer = 4;
    return manager::SubmitModem(r, edit, server).status == 0;
  };
  model_.OnCommand(32791);
  std::map<std::string, int> rings;
  for (auto& r : Records<ModemRecord>(Config("Modems.dbs"), CompareModemIds)) rings[r.portName.Str()] = r.ringsBeforeAnswer;
  EXPECT_EQ(rings, (std::map<std::string, int>{{"/dev/null-modem-a", 4}, {"/dev/null-modem-b", 1}}));
  EXPECT_EQ(model_.CellText(0, 4), "4");

  Select({0, 1});
  model_.OnCommand(32790);
  EXPECT_EQ(model_.RowCount(), 0);
  EXPECT_TRUE(Records<ModemRecord>(Config("Modems.dbs"), CompareModemIds).empty());
}

}  // namespace
}  // namespace korvo::test
