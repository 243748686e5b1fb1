// The fax boxes and their dialogs in real windows under Xvfb, as a new user
// meets them: a fax sent to 200 with faxdemo crosses the simulated line and
// lands with the dispatchers; korvodesk's Dispatch Box fetches and lists it,
// View starts the viewer on its first page, Dispatch hands it to the test's
// login through the real dialog (its list filled from the server), the
// Input Box fetches it and views all pages; Server Parameters set 7
// retries. Each box and dialog is photographed.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <wx/app.h>
#include <wx/combobox.h>
#include <wx/listbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>
#include <wx/vlbox.h>

#include "common/settings.h"
#include "common/userenvironment.h"
#include "desktop/command_id.h"
#include "manager/app/main_frame.h"
#include "manager/app/manager_app.h"
#include "manager/app/tree_view.h"
#include "manager/folder_tree.h"
#include "manager/manager_ids.h"
#include "manager/server_fax_list.h"
#include "manager/service_control.h"
#include "manager/user_fax_list.h"
#include "manager/view/fax_recipients_dialog.h"
#include "manager/view/list_view.h"
#include "manager/view/server_parameters_dialog.h"
#include "manager/view/user_choice_dialog.h"
#include "platform/process.h"
#include "tests/server/line_hub_fixture.h"
#include "tests/server/queue_fixture.h"
#include "tests/support/gui/scripted_prompter.h"
#include "tests/support/gui/window_test.h"

namespace korvo::test {
namespace {

namespace fs = std::filesystem;
using namespace manager;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The dialogs' answers to the model: prompts through the installed prompter.
class PromptUi final : public UiServices {
 public:
  desktop::Answer Message(const std::string& text, const std::string& caption, desktop::Buttons buttons,
                          desktop::Icon icon) override {
    return desktop::Prompts().Message(nullptr, text, caption, buttons, icon);
  }
  bool StartTimer(int) override { return false; }
  void StopTimer() override {}
  std::optional<int> AskRefreshInterval(int) override { return std::nullopt; }
};

class UserBoxesWindowTest : public LineHubFixture {
 protected:
  void SetUp() override {
    LineHubFixture::SetUp();
    ASSERT_EQ(KvWriteRegStr(nullptr, "DefaultServer", platform::ComputerName().c_str()), 1);
    ASSERT_EQ(KvWriteRegStr(nullptr, "KorvoCore", (BuildDir() / "core" / "libkorvocore.so").c_str()), 1);
    // The viewer is a stand-in that writes down its arguments.
    std::ofstream(viewer_) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > " << record_.string() << ".tmp\nmv "
                           << record_.string() << ".tmp " << record_.string() << "\n";
    fs::permissions(viewer_, fs::perms::owner_all);
    ASSERT_EQ(KvSetKorvoLensName(viewer_.c_str()), 1);
    GetUserEnvironment().Load();
  }
  void TearDown() override {
    app_.reset();
    for (wxWindow* window : wxTopLevelWindows) window->Destroy();
    WaitFor([] { return wxTopLevelWindows.empty(); }, "the windows deleted");
    LineHubFixture::TearDown();
  }

  static wxDialog* Shown(const wxString& title) {
    wxDialog* found = nullptr;
    WaitFor([&] {
      for (wxWindow* w : wxTopLevelWindows)
        if (auto* d = dynamic_cast<wxDialog*>(w); d && d->IsShown() && d->GetTitle() == title) found = d;
      return found != nullptr;
    }, "dialog " + title.utf8_string());
    if (found) ShowAndWait(found);
    return found;
  }
  // The drop-down list opened with the mouse, filled from the server, and
  // the user picked from the open list with the keys.
  static void PickUser(wxDialog* dialog, const std::string& user) {
    auto* list = static_cast<wxComboBox*>(dialog->FindWindow(kUserChoiceList));
    ASSERT_NE(list, nullptr);
    Click(list);
    ASSERT_TRUE(WaitFor([&] { return list->GetCount() > 0; }, "the users from the server"));
    const int index = list->FindString(wxString::FromUTF8(user), true);
    ASSERT_GE(index, 0) << user;
    for (int i = 0; i <= index; ++i) PressKey(WXK_DOWN);
    PressKey(WXK_RETURN);
    ASSERT_TRUE(WaitFor([&] { return list->GetSelection() == index; }, "the user selected"));
  }
  // Waits for the stand-in viewer's record and takes it.
  std::string ViewerArguments() {
    std::string args;
    WaitFor([&] { return fs::exists(record_); }, "the viewer started");
    args = ReadAll(record_);
    fs::remove(record_);
    return args;
  }
  std::vector<std::string> ServerSubjects(uint32_t code) {
    const std::string file = TempPath("list.txt");
    std::vector<std::string> subjects;
    if (client_.DownloadList(".", code, nullptr, file).status == 0)
      for (const std::string& line : ListLines(ReadAll(file))) subjects.push_back(QueueListEntry(line).subject);
    fs::remove(file);
    return subjects;
  }

  void StartManager() {
    app_ = std::make_unique<ManagerApp>([] { return 1000u; });
    ASSERT_TRUE(app_->InitInstance({}, service_));
    ShowAndWait(app_->frame());
  }
  MainFrame* frame() { return app_->frame(); }
  ListView* view() { return frame()->list(); }
  wxTreeItemId Node(const std::vector<std::string>& path) {
    TreeView* tree = frame()->tree();
    wxTreeItemId item = tree->GetRootItem();
    for (const auto& text : path) item = tree->FindChild(item, text);
    return item;
  }
  void ClickNode(const wxTreeItemId& item) {
    TreeView* tree = frame()->tree();
    tree->EnsureVisible(item);
    wxRect r;
    ASSERT_TRUE(WaitFor([&] { return tree->GetBoundingRect(item, r, true) && r.height > 0; }, "the node shown"));
    wxUIActionSimulator sim;
    sim.MouseMove(tree->ClientToScreen(r.GetPosition() + wxPoint(r.width / 2, r.height / 2)));
    sim.MouseClick();
    WaitFor([&] { return tree->GetSelection() == item; }, "the node selected");
  }
  void DoubleClickRow(int row) {
    const wxRect r = view()->rows()->GetItemRect(static_cast<size_t>(row));
    wxUIActionSimulator sim;
    const wxPoint at = view()->rows()->ClientToScreen(wxPoint(r.x + 40, r.y + r.height / 2));
    sim.MouseMove(at);
    WaitFor([&] { return wxGetMousePosition() == at; }, "the pointer on the row");
    sim.MouseDblClick();
  }

  fs::path viewer_ = sandbox_.path("viewer.sh");
  fs::path record_ = sandbox_.path("viewer-args.txt");
  ServiceControl& service_ = SystemServiceControl();
  std::unique_ptr<ManagerApp> app_;
  ScriptedPrompter prompter_;
};

TEST_F(UserBoxesWindowTest, ANewUserDispatchesAFaxThatCameOverTheLine) {
  StartHub();
  const std::string host = platform::ComputerName();
  const std::string image = TempPath("hello.tif");
  WriteFaxFile(image, 2);
  ASSERT_TRUE(platform::RunProcess({(BuildDir() / "tools" / "faxdemo").string(), "send", "200", image, "Hello"}));
  // Over the line and back in: the received fax waits for the dispatchers.
  ASSERT_TRUE(WaitFor([&] { return ServerSubjects(5010).size() == 1; }, "the fax received", std::chrono::seconds(120)));

  // Something in the Output Box, Sent Faxes and Returned Faxes to be seen in
  // their pictures.
  FaxHeader waiting;
  waiting.sender = Lan(OwnLogin());
  waiting.subject = "Offer";
  waiting.recipients.AddTail(Fax("5550100", "Ana"));
  waiting.recipients.AddTail(Fax("5550101", "Bo"));
  waiting.recipients.AddTail(Fax("5550102", "Cvita"));
  ASSERT_EQ(waiting.SaveToFile(GetUserEnvironment().GetOutBoxPath() + "offer.kvf"), 1);
  WriteFaxFile(GetUserEnvironment().GetOutBoxPath() + "offer.fax", 1);
  const std::pair<std::string, std::string> kept[] = {{GetUserEnvironment().GetSentBoxPath(), "Price list"},
                                                      {GetUserEnvironment().GetReturnedPath(), "Order"}};
  for (const auto& [folder, subject] : kept) {
    FaxHeader header;
    header.sender = Lan(OwnLogin());
    header.subject = subject;
    header.recipients.AddTail(Fax("5550100", "Ana"));
    ASSERT_EQ(header.SaveToFile(folder + "kept.kvf"), 1);
    WriteFaxFile(folder + "kept.fax", 1);
  }

  StartManager();
  prompter_.Answer(desktop::Answer::Ok);
  ClickNode(Node({"Personal Folders", "Dispatch Box"}));
  ASSERT_TRUE(WaitFor([&] { return view()->model().RowCount() == 1; }, "the fetched fax listed"));
  ASSERT_EQ(prompter_.prompts().size(), 1u);
  EXPECT_EQ(prompter_.prompts()[0].text, "1 new fax(es) received from " + host);
  Screenshot(frame(), "manager", "dispatch-box");
  const std::string disp = GetUserEnvironment().GetDispBoxPath();
  auto* item = reinterpret_cast<const FaxListItem*>(view()->model().GetRow(0).item);
  const std::string fetched = item->imagePath;
  EXPECT_EQ(fetched.substr(0, disp.size()), disp);

  DoubleClickRow(0);
  EXPECT_EQ(ViewerArguments(), "/First_Page_Only\n" + fetched + "\n");

  // Dispatch to the test's own login through the real dialog.
  view()->model().SetRowState(0, kRowSelected | kRowFocused);
  WithModal([&] { view()->DoCommand(UserFaxList::kCmdDispatch); }, [&] {
    wxDialog* dialog = Shown("Dispatch Faxes");
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->GetId(), kUserChoiceDialog);
    EXPECT_FALSE(dialog->FindWindow(wxID_OK)->IsEnabled());
    PickUser(dialog, OwnLogin());
    ASSERT_TRUE(WaitFor([&] { return dialog->FindWindow(wxID_OK)->IsEnabled(); }, "OK enabled"));
    Screenshot(dialog, "manager", "dispatch-faxes");
    Click(dialog->FindWindow(wxID_OK));
  });
  EXPECT_EQ(view()->model().RowCount(), 0);
  EXPECT_TRUE(fs::is_empty(disp));

  prompter_.Answer(desktop::Answer::Ok);
  ClickNode(Node({"Personal Folders", "Input Box"}));
  ASSERT_TRUE(WaitFor([&] { return view()->model().RowCount() == 1; }, "the dispatched fax in the Input Box"));
  ASSERT_EQ(prompter_.prompts().size(), 2u);
  EXPECT_EQ(prompter_.prompts()[1].text, "1 new fax(es) received from " + host);
  Screenshot(frame(), "manager", "input-box");
  const std::string inBoxImage = reinterpret_cast<const FaxListItem*>(view()->model().GetRow(0).item)->imagePath;
  DoubleClickRow(0);
  EXPECT_EQ(ViewerArguments(), inBoxImage + "\n");

  ClickNode(Node({"Personal Folders", "Output Box"}));
  ASSERT_TRUE(WaitFor([&] { return view()->model().RowCount() == 1; }, "the waiting fax"));
  EXPECT_EQ(view()->model().CellText(0, 0), "<Ana, .. Cvita>");
  Screenshot(frame(), "manager", "output-box");
  view()->model().SetRowState(0, kRowSelected | kRowFocused);
  WithModal([&] { view()->DoCommand(UserFaxList::kCmdShowRecipients); }, [&] {
    wxDialog* dialog = Shown("Fax Recipients");
    ASSERT_NE(dialog, nullptr);
    auto* list = static_cast<wxListBox*>(dialog->FindWindow(kFaxRecipientsList));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->GetCount(), 3u);
    EXPECT_EQ(list->GetString(2), "Cvita");
    Screenshot(dialog, "manager", "fax-recipients");
    Click(dialog->FindWindow(wxID_OK));
  });
  for (const char* box : {"Sent Faxes", "Returned Faxes"}) {
    ClickNode(Node({"Personal Folders", box}));
    ASSERT_TRUE(WaitFor([&] { return view()->model().RowCount() == 1; }, box));
    EXPECT_EQ(view()->model().CellText(0, 0), "Ana");
    std::string name = box;
    std::replace(name.begin(), name.end(), ' ', '-');
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    Screenshot(frame(), "manager", name);
  }

  // Server Parameters: 7 retries, read back by the server.
  ClickNode(Node({"Fax Servers", UpperCase(host)}));
  WithModal(
      [&] {
        wxCommandEvent e(wxEVT_MENU, WxId(kCmdServerParameters));
        e.SetEventObject(frame());
        frame()->ProcessWindowEvent(e);
      },
      [&] {
        wxDialog* dialog = Shown("Server Parameters");
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(static_cast<wxStaticText*>(dialog->FindWindow(kServerParametersVersion))->GetLabel(), "1.30");
        auto* count = static_cast<wxTextCtrl*>(dialog->FindWindow(kServerParametersRetryCount));
        count->SetFocus();
        count->SelectAll();
        PressKey('7');
        ASSERT_TRUE(WaitFor([&] { return count->GetValue() == "7"; }, "7 typed"));
        Screenshot(dialog, "manager", "server-parameters");
        Click(dialog->FindWindow(wxID_OK));
      });
  ConnectionSettings settings;
  ASSERT_EQ(client_.GetServerParameters(".", settings).status, 0u);
  EXPECT_EQ(settings.retryAttempts, 7);
  EXPECT_TRUE(prompter_.Done());
}

// The dialogs alone: the station identifier takes 20 characters and no
// more, a retry count of 0 is refused with the dialog staying open; the
// user list fills at the first opening only.
TEST_F(UserBoxesWindowTest, TheDialogsHoldTheirLimits) {
  StartHub();
  PromptUi ui;
  ConnectionSettings settings;
  ASSERT_EQ(client_.GetServerParameters(".", settings).status, 0u);
  auto* params = new ServerParametersDialog(nullptr, ui, settings, 0x105, ".");
  ShowAndWait(params);
  EXPECT_EQ(static_cast<wxStaticText*>(params->FindWindow(kServerParametersVersion))->GetLabel(), "1.05");
  auto* station = static_cast<wxTextCtrl*>(params->FindWindow(kServerParametersStationId));
  station->SetFocus();
  station->SelectAll();
  const std::string typed(21, 'k');
  for (char c : typed) PressKey(c);
  // Home is taken after the last K: once the caret is back, every key was.
  PressKey(WXK_HOME);
  ASSERT_TRUE(WaitFor([&] { return station->GetInsertionPoint() == 0 && !station->GetValue().empty(); },
                      "the identifier typed"));
  EXPECT_EQ(station->GetValue(), std::string(20, 'k'));
  auto* count = static_cast<wxTextCtrl*>(params->FindWindow(kServerParametersRetryCount));
  count->SetFocus();
  count->SelectAll();
  PressKey('0');
  ASSERT_TRUE(WaitFor([&] { return count->GetValue() == "0"; }, "0 typed"));
  prompter_.Answer(desktop::Answer::Ok);
  Click(params->FindWindow(wxID_OK));
  ASSERT_TRUE(WaitFor([&] { return prompter_.prompts().size() == 1; }, "the refusal"));
  EXPECT_EQ(prompter_.prompts()[0].text, "Please enter an integer between 1 and 10.");
  EXPECT_TRUE(params->IsShown());
  ConnectionSettings after;
  ASSERT_EQ(client_.GetServerParameters(".", after).status, 0u);
  EXPECT_EQ(after.Encode(), settings.Encode());
  params->Destroy();

  auto* choice = new UserChoiceDialog(nullptr, ui, ".", "Forward Faxes");
  ShowAndWait(choice);
  EXPECT_EQ(choice->GetTitle(), "Forward Faxes");
  EXPECT_FALSE(choice->FindWindow(wxID_OK)->IsEnabled());
  PickUser(choice, OwnLogin());
  EXPECT_TRUE(choice->FindWindow(wxID_OK)->IsEnabled());
  Screenshot(choice, "manager", "forward-faxes");
  choice->Destroy();
  EXPECT_TRUE(prompter_.Done());
}

}  // namespace
}  // namespace korvo::test
