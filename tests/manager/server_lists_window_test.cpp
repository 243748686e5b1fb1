// KorvoDesk's server lists as a new administrator meets them, under Xvfb
// against a real korvohub on three simulated modems, two of them in its
// modem table: users, modems, junk senders and addresses added through the
// real dialogs reach the server's files, a fax to 200 crosses the Global
// Sending Queue into the Global Journal, and Clear Log empties the Event Log.
// Every list and dialog is saved as a screenshot under artifacts/manager/.
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtk/gtk.h>
#include <wx/app.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/dialog.h>
#include <wx/dcclient.h>
#include <wx/headerctrl.h>
#include <wx/menu.h>
#include <wx/statusbr.h>
#include <wx/radiobut.h>
#include <wx/scrolbar.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>
#include <wx/vlbox.h>

#include "common/book_records.h"
#include "common/database.h"
#include "common/job_state.h"
#include "common/settings.h"
#include "common/user_record.h"
#include "common/userenvironment.h"
#include "desktop/command_id.h"
#include "manager/app/main_frame.h"
#include "manager/app/manager_app.h"
#include "manager/app/tree_view.h"
#include "manager/list_model.h"
#include "manager/server_fax_list.h"
#include "manager/server_log.h"
#include "manager/view/book_dialogs.h"
#include "manager/view/list_view.h"
#include "platform/local_socket.h"
#include "tests/manager/hub_files.h"
#include "tests/server/line_hub_fixture.h"
#include "tests/support/gui/scripted_prompter.h"
#include "tests/support/gui/window_test.h"

namespace korvo::test {
namespace {

using namespace manager;

// Commands of the lists' popups.
constexpr int kAddAddress = 32783;
constexpr int kAddUser = 32786;
constexpr int kAddModem = 32789;
constexpr int kAddSender = 32866;

// The edit of a dialog, found by its id.
wxTextCtrl* Edit(wxDialog& dialog, int id) {
  auto* edit = dynamic_cast<wxTextCtrl*>(dialog.FindWindow(id));
  EXPECT_NE(edit, nullptr) << "edit " << id;
  return edit;
}

// Replaces an edit's text by typing, as a user who selected it all; the
// edit then holds `shown` (what its filter let through).
void Retype(wxDialog& dialog, int id, const std::string& text, std::optional<std::string> shown = std::nullopt) {
  wxTextCtrl* edit = Edit(dialog, id);
  if (!edit) return;
  Click(edit);
  WaitFor([&] { return edit->HasFocus(); }, "the focus in edit " + std::to_string(id));
  edit->SelectAll();
  wxUIActionSimulator sim;
  sim.Text(text.c_str());
  const std::string expected = shown.value_or(text);
  WaitFor([&] { return edit->GetValue().utf8_string() == expected; }, "\"" + expected + "\" typed");
}

void ClickOk(wxDialog& dialog) {
  wxWindow* ok = dialog.FindWindow(wxID_OK);
  ASSERT_NE(ok, nullptr);
  ASSERT_TRUE(WaitFor([&] { return ok->IsEnabled(); }, "OK enabled"));
  Click(ok);
}

// tx (100) only sends and rx (200) only receives, as the modem table has
// them; the third modem, number 300, is not configured yet. Pages cross the
// line at its bit rate, a second and a half each at least, so a fax stays in
// the sending queue long enough to be seen there.
class ServerListsWindowTest : public LineHubFixture {
 protected:
  void ConfigureLine(modemsim::ExchangeConfig& cfg) override {
    cfg.modems.push_back({.name = "m3", .number = "300"});
    cfg.pace = true;
    cfg.minPageTime = std::chrono::milliseconds(1500);
  }
  void SetUp() override {
    LineHubFixture::SetUp();
    // Screenshots show a control's new state, not a transition to it.
    g_object_set(gtk_settings_get_default(), "gtk-enable-animations", FALSE, nullptr);
    ASSERT_EQ(KvWriteRegStr(nullptr, "DefaultServer", platform::ComputerName().c_str()), 1);
    ASSERT_EQ(KvWriteRegStr(nullptr, "KorvoCore", (BuildDir() / "core" / "libkorvocore.so").c_str()), 1);
    GetUserEnvironment().Load();
  }
  void TearDown() override {
    app_.reset();
    for (wxWindow* window : wxTopLevelWindows) window->Destroy();
    WaitFor([] { return wxTopLevelWindows.empty(); }, "the windows deleted");
    LineHubFixture::TearDown();
  }
  void Start() {
    app_ = std::make_unique<ManagerApp>([this] { return now_; });
    ASSERT_TRUE(app_->InitInstance({}, SystemServiceControl()));
    ShowAndWait(frame());
    // The splash goes at the next idle moment.
    now_ += 2501;
    wxWakeUpIdle();
    WaitFor([&] { return app_->splash() == nullptr; }, "the splash gone");
  }
  MainFrame* frame() { return app_->frame(); }
  TreeView* tree() { return frame()->tree(); }
  ListModel& list() { return frame()->list()->model(); }
  static std::string Host() { return UpperCase(platform::ComputerName()); }

  wxTreeItemId Node(const std::vector<std::string>& path) {
    wxTreeItemId item = tree()->GetRootItem();
    for (const auto& text : path) {
      if (item != tree()->GetRootItem()) tree()->Expand(item);
      item = tree()->FindChild(item, text);
      EXPECT_TRUE(item.IsOk()) << "no node " << text;
    }
    return item;
  }
  // A real click on the node's label; the list of the node opens.
  void Open(const std::vector<std::string>& path) {
    const wxTreeItemId item = Node(path);
    tree()->EnsureVisible(item);
    wxRect r;
    ASSERT_TRUE(WaitFor([&] { return tree()->GetBoundingRect(item, r, true) && r.height > 0; }, "the node shown"));
    wxUIActionSimulator sim;
    const wxPoint at = tree()->ClientToScreen(r.GetPosition() + wxPoint(r.width / 2, r.height / 2));
    sim.MouseMove(at);
    WaitFor([&] { return wxGetMousePosition() == at; }, "the pointer on the node");
    sim.MouseClick();
    ASSERT_TRUE(WaitFor([&] { return tree()->GetSelection() == item; }, "node " + path.back() + " selected"));
    frame()->UpdateStatusPanes();
  }
  // A real click on a row of the list.
  void ClickRow(int row) {
    wxVListBox* rows = frame()->list()->rows();
    const wxRect r = rows->GetItemRect(static_cast<size_t>(row));
    const wxPoint at = rows->ClientToScreen(wxPoint(r.x + 40, r.y + r.height / 2));
    wxUIActionSimulator sim;
    sim.MouseMove(at);
    WaitFor([&] { return wxGetMousePosition() == at; }, "the pointer on the row");
    sim.MouseClick();
    ASSERT_TRUE(WaitFor([&] { return list().IsSelected(row) && list().SelectedCount() == 1; }, "the row selected"));
  }
  std::vector<std::string> ServerFolder(const std::string& name) { return {"Fax Servers", Host(), name}; }
  // A command as the menu gives it to the frame.
  void Choose(int id) {
    wxCommandEvent e(wxEVT_MENU, WxId(id));
    e.SetEventObject(frame());
    frame()->ProcessWindowEvent(e);
  }
  int RowWith(int column, const std::string& text) {
    for (int i = 0; i < list().RowCount(); ++i)
      if (list().CellText(i, column) == text) return i;
    return -1;
  }
  // Refreshes the list through its command until it shows what is awaited;
  // the server changes its state on its own, so it is asked again, a few
  // times a second.
  bool RefreshUntil(const std::function<bool()>& done, const std::string& what) {
    auto next = std::chrono::steady_clock::now();
    return WaitFor([&] {
      if (done()) return true;
      if (std::chrono::steady_clock::now() < next) return false;
      next = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
      Choose(kCmdRefreshList);
      return done();
    }, what);
  }
  void Shot(const std::string& name) { Screenshot(frame(), "manager", name); }
  std::filesystem::path Config(const char* name) { return root_ / "Config" / name; }

  uint32_t now_ = 1000;
  std::unique_ptr<ManagerApp> app_;
  ScriptedPrompter prompter_;
};

TEST_F(ServerListsWindowTest, TheAdministratorSetsUpTheServerThroughTheRealDialogs) {
  StartHub();
  Start();

  // The folder lists: the personal folders, the servers, a server's folders.
  Open({"Personal Folders"});
  Shot("list-user-folders");
  Open({"Fax Servers"});
  Shot("list-of-servers");
  Open({"Fax Servers", Host()});
  EXPECT_EQ(list().RowCount(), 11);
  Shot("list-server-folders");
  // A double click on the third row opens the server's third folder.
  {
    const wxTreeItemId server = Node({"Fax Servers", Host()});
    wxTreeItemIdValue cookie;
    wxTreeItemId third = tree()->GetFirstChild(server, cookie);
    for (int i = 0; i < 2; ++i) third = tree()->GetNextChild(server, cookie);
    ClickRow(2);
    wxUIActionSimulator sim;
    sim.MouseDblClick();
    ASSERT_TRUE(WaitFor([&] { return tree()->GetSelection() == third; }, "the third folder opened"));
    EXPECT_EQ(tree()->GetItemText(third), "Denied Access Book");
    EXPECT_TRUE(WaitFor([&] { return list().ColumnCount() > 0 && list().GetColumn(0).title == "Station Identifier"; },
                        "the book's list open"));
  }

  // A user "jane" with the Dispatch right.
  Open(ServerFolder("Registered Users"));
  const int users = list().RowCount();
  ASSERT_GE(users, 2);  // the administrator and the test's own login
  WhenModal(kAddUserDialog, [](wxDialog& dialog) {
    EXPECT_EQ(dialog.GetTitle(), "Add User");
    Retype(dialog, AddUserDialog::kUserName, "jane");
    Retype(dialog, AddUserDialog::kFullName, "Jane Doe");
    Click(dialog.FindWindow(AddUserDialog::kDispatch));
    auto* dispatch = static_cast<wxCheckBox*>(dialog.FindWindow(AddUserDialog::kDispatch));
    WaitFor([&] { return dispatch->GetValue(); }, "Dispatch ticked");
    Screenshot(&dialog, "manager", "add-user");
    ClickOk(dialog);
  });
  Choose(kAddUser);
  uint32_t rights = 0;
  for (auto& r : Records<UserRecord>(Config("RegUsers.dbs"), CompareUserNames))
    if (r.userName.Str() == "jane") rights = r.rights;
  EXPECT_EQ(rights, 0x2Au);
  ASSERT_EQ(list().RowCount(), users + 1);
  EXPECT_EQ(list().CellText(RowWith(0, "jane"), 3), "Disp. ");
  Shot("list-registered-users");

  // The third modem, past a look at the Advanced settings.
  Open(ServerFolder("Modems"));
  ASSERT_EQ(list().RowCount(), 2);
  const std::string port = exchange_->portPath(2).string();
  WhenModal(kModemConfigDialog, [&](wxDialog& dialog) {
    EXPECT_EQ(dialog.GetTitle(), "Add Modem Configuration");
    EXPECT_EQ(Edit(dialog, ModemConfigDialog::kPortName)->GetValue(), "COM1");
    EXPECT_EQ(Edit(dialog, ModemConfigDialog::kModemName)->GetValue(), "Standard Fax Modem");
    Retype(dialog, ModemConfigDialog::kPortName, port);
    Screenshot(&dialog, "manager", "modem-config");
    WhenModal(kModemAdvancedDialog, [](wxDialog& advanced) {
      EXPECT_EQ(advanced.GetTitle(), "Add Modem Configuration (Advanced)");
      Screenshot(&advanced, "manager", "modem-advanced");
      ClickOk(advanced);
    });
    Click(dialog.FindWindow(ModemConfigDialog::kAdvanced));
    ASSERT_TRUE(WaitFor([&] { return dialog.IsActive(); }, "back in the modem dialog"));
    ClickOk(dialog);
  });
  Choose(kAddModem);
  EXPECT_TRUE(prompter_.prompts().empty());
  std::vector<std::string> ports;
  for (auto& r : Records<ModemRecord>(Config("Modems.dbs"), CompareModemIds)) ports.push_back(r.portName.Str());
  EXPECT_EQ(ports.size(), 3u);
  EXPECT_NE(std::find(ports.begin(), ports.end(), port), ports.end());
  ASSERT_EQ(list().RowCount(), 3);
  EXPECT_TRUE(WaitFor([&] { return ServerLogged("Port " + port + " initialization done !"); },
                      "the new modem initialized"));
  Shot("list-modems");

  // A junk sender.
  Open(ServerFolder("Denied Access Book"));
  WhenModal(kAddSenderDialog, [](wxDialog& dialog) {
    EXPECT_EQ(dialog.GetTitle(), "Add Sender");
    Retype(dialog, AddSenderDialog::kStationId, "385 1 999");
    Retype(dialog, AddSenderDialog::kName, "Spam Ltd");
    Screenshot(&dialog, "manager", "add-sender");
    ClickOk(dialog);
  });
  Choose(kAddSender);
  std::vector<std::string> senders;
  for (auto& r : Records<JunkSenderRecord>(Config("Denied.dbs"), CompareSerialIds))
    senders.push_back(r.stationId.Str() + "|" + r.description.Str());
  EXPECT_EQ(senders, (std::vector<std::string>{"385 1 999|Spam Ltd"}));
  EXPECT_EQ(list().RowCount(), 1);
  Shot("list-denied-access-book");

  // A global and a local address.
  const std::pair<std::vector<std::string>, std::filesystem::path> books[] = {
      {ServerFolder("Global Address Book"), root_ / "Books" / "Address.bok"},
      {{"Personal Folders", "Address Book"}, GetUserEnvironment().GetLocalBookPath()}};
  for (const auto& [folder, file] : books) {
    SCOPED_TRACE(folder.back());
    Open(folder);
    const bool global = folder.size() == 3;
    WhenModal(kAddAddressDialog, [&](wxDialog& dialog) {
      EXPECT_EQ(dialog.GetTitle(), "Add Address");
      Retype(dialog, AddAddressDialog::kFirstName, global ? "Ana" : "Ivo");
      Retype(dialog, AddAddressDialog::kLastName, global ? "Horvat" : "Kovac");
      Retype(dialog, AddAddressDialog::kCompany, "Korvo d.o.o.");
      Retype(dialog, AddAddressDialog::kFax, global ? "200" : "300");
      Screenshot(&dialog, "manager", "add-address");
      ClickOk(dialog);
    });
    Choose(kAddAddress);
    std::vector<std::string> names;
    for (auto& r : Records<AddressRecord>(file, CompareAddressIds))
      names.push_back(r.lastName.Str() + "|" + r.faxNumber.Str());
    EXPECT_EQ(names, (std::vector<std::string>{global ? "Horvat|200" : "Kovac|300"}));
    ASSERT_EQ(list().RowCount(), 1);
    EXPECT_EQ(list().CellText(0, 0), global ? "Horvat, Ana" : "Kovac, Ivo");
    Shot(global ? "list-global-address-book" : "list-address-book");
  }

  // A fax to 200 shows in the Global Sending Queue while it is sent ...
  SendFaxTo200(client_, TempPath("road.tif"), "road", 3);
  Open(ServerFolder("Global Sending Queue"));
  ASSERT_TRUE(RefreshUntil([&] {
    const int row = RowWith(2, "road");
    if (row < 0) return false;
    const std::string state = list().CellText(row, 7);
    for (int32_t s : {JobState::Dialing, JobState::Connecting, JobState::Negotiating, JobState::Sending})
      if (state == JobState::Name(s)) return true;
    return false;
  }, "the fax being sent"));
  Shot("list-global-sending-queue");
  // ... then in the Global Journal, whose Total Usage Time shows its duration.
  Open(ServerFolder("Global Journal"));
  ASSERT_TRUE(RefreshUntil([&] { return RowWith(3, "road") >= 0; }, "the fax in the journal"));
  const std::string duration = list().CellText(RowWith(3, "road"), 6);
  EXPECT_NE(duration, "0:0");
  Shot("list-global-journal");
  WhenModal(kTotalUsageAllDialog, [&](wxDialog& dialog) {
    EXPECT_EQ(dialog.FindWindow(TotalUsageTimeDialog::kText)->GetLabel().utf8_string(), duration);
    Screenshot(&dialog, "manager", "total-usage-time-all");
    Click(dialog.FindWindow(wxID_OK));
  });
  Choose(ServerFaxList::kCmdTotalUsageTime);
  // Over the selected rows: dialog 166.
  ClickRow(RowWith(3, "road"));
  WhenModal(kTotalUsageSelectedDialog, [&](wxDialog& dialog) {
    EXPECT_EQ(dialog.FindWindow(TotalUsageTimeDialog::kText)->GetLabel().utf8_string(), duration);
    Screenshot(&dialog, "manager", "total-usage-time-selected");
    Click(dialog.FindWindow(wxID_OK));
  });
  Choose(ServerFaxList::kCmdTotalUsageTime);
  for (const auto& [folder, shot] : {std::pair{"Global Receiving Queue", "list-global-receiving-queue"},
                                      {"Personal Receiving Queue", "list-personal-receiving-queue"},
                                      {"Personal Sending Queue", "list-personal-sending-queue"}}) {
    Open(ServerFolder(folder));
    Shot(shot);
  }
  Open(ServerFolder("Personal Journal"));
  ASSERT_TRUE(RefreshUntil([&] { return RowWith(3, "road") >= 0; }, "the fax in the personal journal"));
  Shot("list-personal-journal");

  // Clear Log empties the Event Log.
  Open(ServerFolder("Event Log"));
  ASSERT_GT(list().RowCount(), 0);
  EXPECT_GE(RowWith(2, "Port " + port + " initialization done !"), 0);
  Shot("list-event-log");
  prompter_.Answer(desktop::Answer::Yes);
  Choose(ServerLog::kCmdClearLog);
  ASSERT_EQ(prompter_.prompts().size(), 1u);
  EXPECT_EQ(prompter_.prompts()[0].caption, "Confirm Delete Log");
  EXPECT_LE(list().RowCount(), 1);  // at most the server's note of the clearing
  EXPECT_TRUE(prompter_.Done());
}

// The book dialogs' rules as a user meets them, typing into the real
// dialogs: when OK is enabled, what the fax number takes, titles and keys in
// edit mode, the rights the user dialog writes. Cancel leaves the entry.
TEST_F(ServerListsWindowTest, TheBookDialogsTakeWhatTheirRulesAllow) {
  struct AddressCase {
    const char* firstName;
    const char* company;
    const char* typedFax;
    const char* shownFax;
    bool ok;
  };
  const AddressCase addressCases[] = {
      {"Ana", "", "a2", "2", true},        // lower case beeped away
      {"Ana", "", "2A", "2A", true},       // upper case taken
      {"", "", "200", "200", false},       // a number alone
      {"", "Korvo", "200", "200", true},   // a company is a name
      {"Ana", "", "   ", "   ", false},    // blanks are no number
      {"   ", "", "200", "200", false},    // nor a name
  };
  for (const AddressCase& c : addressCases) {
    SCOPED_TRACE(std::string(c.firstName) + "|" + c.company + "|" + c.typedFax);
    AddressEntry entry;
    AddAddressDialog dialog(nullptr, entry, "Copy Address");
    WhenModal(kAddAddressDialog, [&](wxDialog& d) {
      EXPECT_EQ(d.GetTitle(), "Copy Address");
      EXPECT_FALSE(d.FindWindow(wxID_OK)->IsEnabled());
      if (*c.firstName) Retype(d, AddAddressDialog::kFirstName, c.firstName);
      if (*c.company) Retype(d, AddAddressDialog::kCompany, c.company);
      Retype(d, AddAddressDialog::kFax, c.typedFax, c.shownFax);
      EXPECT_EQ(d.FindWindow(wxID_OK)->IsEnabled(), c.ok);
      Click(d.FindWindow(wxID_CANCEL));
    });
    EXPECT_EQ(dialog.ShowModal(), wxID_CANCEL);
    EXPECT_EQ(entry.firstName, "");
    EXPECT_EQ(entry.faxNumber, "");
  }

  // A station identifier of blanks keeps OK disabled; the edit takes 20
  // characters. In edit mode the title says so.
  for (bool editMode : {false, true}) {
    JunkSenderEntry entry;
    entry.stationId = editMode ? "385 1 999" : "";
    AddSenderDialog dialog(nullptr, entry, editMode);
    WhenModal(kAddSenderDialog, [&](wxDialog& d) {
      EXPECT_EQ(d.GetTitle(), editMode ? "Edit Sender" : "Add Sender");
      EXPECT_EQ(d.FindWindow(wxID_OK)->IsEnabled(), editMode);
      Retype(d, AddSenderDialog::kStationId, "   ");
      EXPECT_FALSE(d.FindWindow(wxID_OK)->IsEnabled());
      Retype(d, AddSenderDialog::kStationId, "123456789012345678901", "12345678901234567890");
      EXPECT_TRUE(d.FindWindow(wxID_OK)->IsEnabled());
      ClickOk(d);
    });
    EXPECT_EQ(dialog.ShowModal(), wxID_OK);
    EXPECT_EQ(entry.stationId, "12345678901234567890");
  }

  // A user with every right, edited: the name cannot change, the three boxes
  // are ticked; cleared, the user keeps only his own boxes (0x22).
  RegisteredUserEntry user;
  user.userName = "jane";
  user.rights = 0x3F;
  {
    AddUserDialog dialog(nullptr, user, true);
    WhenModal(kAddUserDialog, [&](wxDialog& d) {
      EXPECT_EQ(d.GetTitle(), "Edit User's Data");
      EXPECT_FALSE(Edit(d, AddUserDialog::kUserName)->IsEnabled());
      for (int id : {AddUserDialog::kGlobalBook, AddUserDialog::kDispatch, AddUserDialog::kAdministration}) {
        auto* box = static_cast<wxCheckBox*>(d.FindWindow(id));
        EXPECT_TRUE(box->GetValue()) << id;
        Click(box);
        WaitFor([&] { return !box->GetValue(); }, "box " + std::to_string(id) + " cleared");
      }
      Screenshot(&d, "manager", "edit-user");
      ClickOk(d);
    });
    EXPECT_EQ(dialog.ShowModal(), wxID_OK);
    EXPECT_EQ(user.rights, 0x22u);
  }
  // In add mode OK waits for a name.
  RegisteredUserEntry fresh;
  AddUserDialog dialog(nullptr, fresh, false);
  WhenModal(kAddUserDialog, [&](wxDialog& d) {
    EXPECT_TRUE(Edit(d, AddUserDialog::kUserName)->IsEnabled());
    EXPECT_FALSE(d.FindWindow(wxID_OK)->IsEnabled());
    Retype(d, AddUserDialog::kUserName, "ivo");
    EXPECT_TRUE(d.FindWindow(wxID_OK)->IsEnabled());
    Click(d.FindWindow(wxID_CANCEL));
  });
  EXPECT_EQ(dialog.ShowModal(), wxID_CANCEL);
  EXPECT_EQ(fresh.userName, "");
}

// The modem dialog starts with the record's defaults, takes 1 to 10 rings,
// sends its own request and stays open with the user's values while the
// server refuses; Cancel after a change in the Advanced dialog leaves the row.
TEST_F(ServerListsWindowTest, TheModemDialogStaysOpenOnARefusalAndCancelLeavesTheRow) {
  StartHub();
  Start();
  Open(ServerFolder("Modems"));
  ASSERT_EQ(list().RowCount(), 2);
  ModemRecord defaults;
  defaults.SetDefaults();
  const std::string busyPort = exchange_->portPath(0).string();
  prompter_.Answer(desktop::Answer::Ok);
  prompter_.Answer(desktop::Answer::Ok);
  WhenModal(kModemConfigDialog, [&](wxDialog& d) {
    EXPECT_EQ(Edit(d, ModemConfigDialog::kPortName)->GetValue(), "COM1");
    EXPECT_EQ(Edit(d, ModemConfigDialog::kModemName)->GetValue(), "Standard Fax Modem");
    EXPECT_EQ(Edit(d, ModemConfigDialog::kRings)->GetValue(), std::to_string(defaults.ringsBeforeAnswer));
    EXPECT_EQ(Edit(d, ModemConfigDialog::kDialPrefix)->GetValue(), defaults.dialPrefix.Str());
    EXPECT_EQ(static_cast<wxChoice*>(d.FindWindow(ModemConfigDialog::kPortRate))->GetSelection(),
              defaults.portSpeed);
    EXPECT_EQ(static_cast<wxChoice*>(d.FindWindow(ModemConfigDialog::kFaxRate))->GetSelection(), defaults.faxSpeed);
    EXPECT_EQ(static_cast<wxCheckBox*>(d.FindWindow(ModemConfigDialog::kEnabled))->GetValue(),
              defaults.enabled != 0);
    const int usage[] = {ModemConfigDialog::kSend, ModemConfigDialog::kReceive, ModemConfigDialog::kBoth};
    EXPECT_TRUE(static_cast<wxRadioButton*>(d.FindWindow(usage[defaults.usage]))->GetValue());

    // Only a modem that answers counts rings.
    wxWindow* rings = d.FindWindow(ModemConfigDialog::kRings);
    Click(d.FindWindow(ModemConfigDialog::kSend));
    WaitFor([&] { return !rings->IsEnabled(); }, "the rings edit disabled by Send");
    Click(d.FindWindow(ModemConfigDialog::kBoth));
    WaitFor([&] { return rings->IsEnabled(); }, "the rings edit enabled by Both");

    // Eleven rings are refused before any request.
    Retype(d, ModemConfigDialog::kPortName, busyPort);
    auto* enabled = static_cast<wxCheckBox*>(d.FindWindow(ModemConfigDialog::kEnabled));
    if (!enabled->GetValue()) {
      Click(enabled);
      WaitFor([&] { return enabled->GetValue(); }, "Enabled ticked");
    }
    Retype(d, ModemConfigDialog::kRings, "11");
    ClickOk(d);
    ASSERT_TRUE(WaitFor([&] { return prompter_.prompts().size() == 1; }, "the rings refused"));
    EXPECT_EQ(prompter_.prompts()[0].text, "Please enter an integer between 1 and 10.");
    EXPECT_TRUE(d.IsModal());
    // Ten are taken, but the server refuses a second enabled modem on tx's port.
    Retype(d, ModemConfigDialog::kRings, "10");
    ClickOk(d);
    ASSERT_TRUE(WaitFor([&] { return prompter_.prompts().size() == 2; }, "the server's refusal"));
    EXPECT_FALSE(prompter_.prompts()[1].text.empty());
    EXPECT_TRUE(d.IsModal());
    EXPECT_EQ(Edit(d, ModemConfigDialog::kPortName)->GetValue(), busyPort);
    EXPECT_EQ(Edit(d, ModemConfigDialog::kRings)->GetValue(), "10");
    Click(d.FindWindow(wxID_CANCEL));
  });
  Choose(kAddModem);
  EXPECT_EQ(list().RowCount(), 2);
  EXPECT_EQ(Records<ModemRecord>(Config("Modems.dbs"), CompareModemIds).size(), 2u);

  // Edit of the first row: the port is the key; a louder speaker in the
  // Advanced dialog, then Cancel.
  ClickRow(0);
  std::vector<std::string> row;
  for (int c = 0; c < 15; ++c) row.push_back(list().CellText(0, c));
  WhenModal(kModemConfigDialog, [&](wxDialog& d) {
    EXPECT_EQ(d.GetTitle(), "Edit Modem Configuration");
    EXPECT_FALSE(Edit(d, ModemConfigDialog::kPortName)->IsEnabled());
    Screenshot(&d, "manager", "edit-modem-config");
    WhenModal(kModemAdvancedDialog, [](wxDialog& advanced) {
      EXPECT_EQ(advanced.GetTitle(), "Edit Modem Configuration (Advanced)");
      auto* volume = static_cast<wxChoice*>(advanced.FindWindow(ModemAdvancedDialog::kVolume));
      volume->SetSelection(volume->GetSelection() == 2 ? 0 : 2);
      ClickOk(advanced);
    });
    Click(d.FindWindow(ModemConfigDialog::kAdvanced));
    ASSERT_TRUE(WaitFor([&] { return d.IsActive(); }, "back in the modem dialog"));
    Click(d.FindWindow(wxID_CANCEL));
  });
  Choose(32791);
  std::vector<std::string> after;
  for (int c = 0; c < 15; ++c) after.push_back(list().CellText(0, c));
  EXPECT_EQ(after, row);
  EXPECT_TRUE(prompter_.Done());
}

// Pointing at a command of a list's popup in the main menu shows its prompt
// in the status bar, as for the frame's own commands.
TEST_F(ServerListsWindowTest, EachListsCommandsShowTheirPromptsInTheStatusBar) {
  StartHub();
  Start();
  const struct {
    std::vector<std::string> folder;
    int id;
    const char* prompt;
  } cases[] = {
      {{"Personal Folders", "Address Book"}, 32783, "Adds an item to the address book"},
      {ServerFolder("Global Address Book"), 32783, "Adds an item to the address book"},
      {ServerFolder("Global Address Book"), 32869, "Adds an item to the address book by copying existing one"},
      {ServerFolder("Global Address Book"), 32785, "Edits an item of the address book"},
      {ServerFolder("Global Address Book"), 32784, "Deletes one or more items from the address book"},
      {ServerFolder("Registered Users"), 32786, "Adds a user to the book of registered users"},
      {ServerFolder("Registered Users"), 32787, "Deletes one or more registered users"},
      {ServerFolder("Registered Users"), 32788, "Edits a registered user's data"},
      {ServerFolder("Denied Access Book"), 32866, "Adds a fax sender to the denied access book"},
      {ServerFolder("Denied Access Book"), 32867, "Deletes one or more fax senders from the denied access book"},
      {ServerFolder("Denied Access Book"), 32868, "Edits a fax sender's data"},
      {ServerFolder("Modems"), 32789, "Adds a new modem configuration"},
      {ServerFolder("Modems"), 32808, "Adds a new modem configuration by copying existing one"},
      {ServerFolder("Modems"), 32791, "Edits a modem configuration data"},
      {ServerFolder("Modems"), 32790, "Deletes one or more modem configurations"},
      {ServerFolder("Event Log"), 32856, "Deletes all items in the event log"},
      {{"Fax Servers", Host()}, 32803, "Opens the selected list (displays it in the right window pane)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder.back() + " " + std::to_string(c.id));
    Open(c.folder);
    frame()->SetStatusText("");
    wxMenuEvent highlight(wxEVT_MENU_HIGHLIGHT, WxId(c.id), frame()->GetMenuBar()->GetMenu(1));
    highlight.SetEventObject(frame());
    frame()->ProcessWindowEvent(highlight);
    EXPECT_EQ(frame()->GetStatusBar()->GetStatusText(0).utf8_string(), c.prompt);
  }
}

// The lists open with columns that their titles and list dates fit, in the
// window's own font; a list wider than its pane scrolls sideways, its header
// with its rows.
TEST_F(ServerListsWindowTest, ColumnsFitTheirTextsAndAWideListScrollsSideways) {
  StartHub();
  Start();
  ListView& view = *frame()->list();
  wxClientDC dc(view.rows());
  dc.SetFont(view.rows()->GetFont());
  auto measure = [&dc](const std::string& text) { return dc.GetTextExtent(wxString::FromUTF8(text)).x; };
  for (const char* folder : {"Event Log", "Registered Users", "Modems", "Global Journal"}) {
    SCOPED_TRACE(folder);
    Open(ServerFolder(folder));
    for (int c = 0; c < list().ColumnCount(); ++c) {
      const ListModel::Column& column = list().GetColumn(c);
      // Room for the header's margins and its sort arrow.
      EXPECT_LE(view.header()->GetTextExtent(wxString::FromUTF8(column.title)).x + 24, column.width) << column.title;
    }
  }
  Open(ServerFolder("Event Log"));
  ASSERT_GT(list().RowCount(), 0);
  const std::string time = list().CellText(0, 1);
  EXPECT_EQ(PlaceCellText(time, list().GetColumn(1).width, 12, Align::Left, measure).text, time);

  // The modems' fifteen columns are wider than the pane: a click at the
  // scroll bar's right end brings the last column under the pointer.
  Open(ServerFolder("Modems"));
  wxScrollBar* bar = view.scrollBar();
  ASSERT_TRUE(WaitFor([&] { return bar->IsShownOnScreen(); }, "the scroll bar shown"));
  const wxRect track = bar->GetScreenRect();
  const wxPoint end(track.GetRight() - track.height * 3 / 2, track.y + track.height / 2);
  wxUIActionSimulator sim;
  sim.MouseMove(end);
  WaitFor([&] { return wxGetMousePosition() == end; }, "the pointer at the bar's end");
  sim.MouseClick();
  ASSERT_TRUE(WaitFor([&] { return bar->GetThumbPosition() + bar->GetThumbSize() >= bar->GetRange() - 1; },
                      "scrolled to the end"));
  Shot("list-modems-scrolled");
  const wxRect header = view.header()->GetScreenRect();
  const wxPoint last(header.x + view.rows()->GetClientSize().x - 20, header.y + header.height / 2);
  sim.MouseMove(last);
  WaitFor([&] { return wxGetMousePosition() == last; }, "the pointer on the last column");
  sim.MouseClick();
  EXPECT_TRUE(WaitFor([&] { return list().GetSortCaption() == "Sort: Class 2 Data Bit Order"; },
                      "sorted by the last column"));
  // A list that fits has no scroll bar.
  Open(ServerFolder("Denied Access Book"));
  EXPECT_TRUE(WaitFor([&] { return !bar->IsShown(); }, "the scroll bar gone"));
}

}  // namespace
}  // namespace korvo::test
