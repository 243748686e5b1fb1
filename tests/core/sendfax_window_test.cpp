// The Send Fax dialogs on a real display, against a real korvohub: typing a
// number through the dial-string filter, Add and Remove, the Options and
// Send Fax To dialogs, and Send with its Status dialog. Screenshots of each
// dialog go to build/artifacts/sendfax/.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/eventfilter.h>
#include <wx/combobox.h>
#include <wx/listbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/toplevel.h>
#include <wx/uiaction.h>
#include <wx/utils.h>

#include "common/settings.h"
#include "common/userenvironment.h"
#include "core/sendfax/app/dialogs.h"
#include "platform/process.h"
#include "platform/tempfile.h"
#include "tests/server/hub_fixture.h"
#include "tests/support/gui/scripted_prompter.h"
#include "tests/support/gui/window_test.h"

// Last: GTK's headers define names that clash with the ones above.
#include <gtk/gtk.h>

namespace korvo::sendfax {
namespace {

namespace fs = std::filesystem;

// Runs a script once, inside the loop of the next dialog that shows.
class ChildShown : public wxEventFilter {
 public:
  explicit ChildShown(std::function<void(wxDialog&)> script) : script_(std::move(script)) { wxEvtHandler::AddFilter(this); }
  ~ChildShown() override { wxEvtHandler::RemoveFilter(this); }
  int FilterEvent(wxEvent& event) override {
    auto* dialog = dynamic_cast<wxDialog*>(event.GetEventObject());
    if (event.GetEventType() == wxEVT_SHOW && dialog && dialog->IsModal() && script_) {
      auto script = std::move(script_);
      script_ = nullptr;
      wxTheApp->CallAfter([script, dialog] { script(*dialog); });
    }
    return Event_Skip;
  }

 private:
  std::function<void(wxDialog&)> script_;
};

class SendFaxWindowTest : public test::HubFixture {
 protected:
  void SetUp() override {
    HubFixture::SetUp();
    // A check box drawn while its animation runs would show the old state.
    g_object_set(gtk_settings_get_default(), "gtk-enable-animations", FALSE, nullptr);
    ASSERT_EQ(KvSetDefaultServer("."), 1);
    std::string name;
    ASSERT_NE(platform::GetTempFileName(GetUserEnvironment().GetOutBoxPath(), "CPT", 0, name), 0u);
    const std::string source = TempPath("print.txt");
    test::Sandbox::writeFile(source, "Window\n");
    ASSERT_TRUE(platform::RunProcess({(test::BuildDir() / "tools" / "prnstream").string(), "-t", source, name}));
    fs::remove(source);
    job_.faxImagePath = name;
    job_.headerPath = name.substr(0, name.size() - 3) + "TMR";
  }
  void TearDown() override {
    for (wxWindow* window : wxTopLevelWindows) window->Destroy();
    test::WaitFor([] { return wxTopLevelWindows.empty(); }, "the windows deleted");
    HubFixture::TearDown();
  }
  // Runs `script` inside the Send Fax dialog's modal loop; its end code.
  int RunModal(const std::function<void(SendFaxDialog&)>& script) {
    dialog_ = new SendFaxDialog(job_);
    bool ran = false;
    wxTheApp->CallAfter([&] {
      test::ShowAndWait(dialog_);
      script(*dialog_);
      ran = true;
    });
    const int code = dialog_->ShowModal();
    EXPECT_TRUE(ran);
    dialog_->Destroy();
    dialog_ = nullptr;
    return code;
  }
  // Drives the child dialog that clicking `button` opens: the script runs in
  // the child's own modal loop once the child has shown.
  void WithChild(wxWindow* button, const std::function<void(wxDialog&)>& script) {
    bool ran = false;
    ChildShown shown([&](wxDialog& child) {
      test::ShowAndWait(&child);
      EXPECT_EQ(&child, dialog_->OpenChild());
      script(child);
      ran = true;
    });
    test::Click(button);
    EXPECT_TRUE(test::WaitFor([&] { return ran; }, "the child dialog's script"));
  }
  // A real click on the first row of a list.
  void ClickFirstRow(wxListBox* list) {
    const wxRect r = list->GetScreenRect();
    const wxPoint at(r.x + r.width / 2, r.y + 12);
    wxUIActionSimulator sim;
    sim.MouseMove(at);
    test::WaitFor([&] { return wxGetMousePosition() == at; }, "the pointer over the first row");
    sim.MouseClick();
  }
  template <typename T>
  T* Find(wxWindow& parent, int id) {
    T* found = dynamic_cast<T*>(parent.FindWindow(id));
    EXPECT_NE(found, nullptr) << id;
    return found;
  }

  SendFaxJob job_;
  SendFaxDialog* dialog_ = nullptr;
  test::ScriptedPrompter prompts_;
};

TEST_F(SendFaxWindowTest, TypeAddAndRemoveRecipients) {
  RunModal([&](SendFaxDialog& d) {
    auto* name = Find<wxTextCtrl>(d, id::kName);
    auto* number = Find<wxTextCtrl>(d, id::kNumber);
    auto* list = Find<wxListBox>(d, id::kRecipients);
    auto* add = Find<wxButton>(d, id::kAddRemove);
    auto* send = Find<wxButton>(d, id::kSend);
    EXPECT_EQ(d.GetTitle(), "Send Fax");
    EXPECT_EQ(Find<wxStaticText>(d, id::kStatus)->GetLabel(), "Enter fax recipient");
    EXPECT_FALSE(send->IsEnabled());
    EXPECT_FALSE(add->IsEnabled());
    test::Type(number, "55x5-1");  // the filter drops what cannot be dialled
    ASSERT_TRUE(test::WaitFor([&] { return number->GetValue() == "555-1"; }, "the filtered number"));
    EXPECT_TRUE(send->IsEnabled());
    EXPECT_FALSE(add->IsEnabled());
    test::Type(name, "Ana");
    ASSERT_TRUE(test::WaitFor([&] { return add->IsEnabled(); }, "Add enabled"));
    EXPECT_EQ(add->GetLabel(), "&Add");
    test::Click(add);
    ASSERT_TRUE(test::WaitFor([&] { return list->GetCount() == 1; }, "the first recipient listed"));
    EXPECT_EQ(list->GetString(0), "Ana: 555-1");
    EXPECT_EQ(number->GetValue(), "");
    EXPECT_EQ(name->GetValue(), "");
    test::Type(name, "Ivo");
    test::Type(number, "200");
    test::Click(add);
    ASSERT_TRUE(test::WaitFor([&] { return list->GetCount() == 2; }, "the second recipient listed"));
    test::Screenshot(&d, "sendfax", "send_fax");

    ClickFirstRow(list);
    ASSERT_TRUE(test::WaitFor([&] { return add->GetLabel() == "&Remove" && add->IsEnabled(); }, "Remove enabled"));
    test::Click(add);
    ASSERT_TRUE(test::WaitFor([&] { return list->GetCount() == 1; }, "one recipient removed"));
    EXPECT_EQ(list->GetString(0), "Ivo: 200");
    EXPECT_EQ(add->GetLabel(), "&Add");
    EXPECT_EQ(job_.recipientsHeader->recipients.GetCount(), 1);
    EXPECT_EQ(job_.recipientsHeader->recipients[0].address, "200");

    prompts_.Answer(desktop::Answer::Yes);
    test::Click(Find<wxButton>(d, wxID_CANCEL));
  });
  ASSERT_EQ(prompts_.prompts().size(), 1u);
  EXPECT_EQ(prompts_.prompts()[0].text, "Do you want to cancel sending fax ?");
}

TEST_F(SendFaxWindowTest, OptionsAndAddressBookDialogs) {
  StartHub();
  int32_t id = 0;
  AddressEntry entry;
  entry.firstName = "Eva";
  entry.faxNumber = "300";
  ASSERT_EQ(client_.AddAddress(nullptr, entry, id).status, 0u);
  ASSERT_EQ(client_.AddAddress(".", [] {
    AddressEntry e;
    e.company = "Velmora";
    e.faxNumber = "400";
    return e;
  }(), id).status, 0u);
  AddressEntry harbour;
  harbour.company = "Harbour Office";
  harbour.faxNumber = "385-1(23)4P#*,WABCDT";
  ASSERT_EQ(client_.AddAddress(".", harbour, id).status, 0u);

  UserEntryList users;
  ASSERT_EQ(client_.GetUserList(".", users).status, 0u);
  ASSERT_FALSE(users.empty());
  const int code = RunModal([&](SendFaxDialog& d) {
    WithChild(Find<wxButton>(d, id::kOptions), [&](wxDialog& options) {
      EXPECT_EQ(options.GetTitle(), "Send Fax Options");
      auto* time = Find<wxComboBox>(options, id::kSendTime);
      EXPECT_EQ(time->GetStringSelection(), "NOW");
      EXPECT_EQ(Find<wxComboBox>(options, id::kServer)->GetValue(), ".");
      test::Type(Find<wxTextCtrl>(options, id::kSubject), "Report");
      test::Click(Find<wxCheckBox>(options, id::kHighPriority));
      test::Screenshot(&options, "sendfax", "options");
      test::Click(Find<wxButton>(options, wxID_OK));
    });
    EXPECT_EQ(job_.subject, "Report");
    EXPECT_EQ(job_.highPriority, 1);

    WithChild(Find<wxButton>(d, id::kAddressBook), [&](wxDialog& to) {
      EXPECT_EQ(to.GetTitle(), "Send Fax To:");
      auto* list = Find<wxListBox>(to, id::kBookList);
      ASSERT_EQ(list->GetCount(), 1u);
      EXPECT_EQ(list->GetString(0), "Eva: 300");
      test::Click(Find<wxCheckBox>(to, id::kUseGlobal));
      ASSERT_TRUE(test::WaitFor([&] { return list->GetCount() == users.size() + 3; }, "the global book and the users"));
      EXPECT_EQ(list->GetString(0), users[0].GetLabel());
      EXPECT_EQ(list->GetString(static_cast<unsigned>(users.size())), "Velmora: 400");
      EXPECT_EQ(list->GetString(static_cast<unsigned>(users.size()) + 1), "Harbour Office: 385-1(23)4P#*,WABCDT");
      EXPECT_EQ(list->GetString(static_cast<unsigned>(users.size()) + 2), "Eva: 300");
      // The longest entry shows whole (the list once cut it).
      const int longest = list->GetTextExtent("Harbour Office: 385-1(23)4P#*,WABCDT").x;
      EXPECT_TRUE(test::WaitFor([&] { return list->GetClientSize().x >= longest; }, "the longest entry shown whole"));
      test::Screenshot(&to, "sendfax", "send_fax_to");
      ClickFirstRow(list);
      ASSERT_TRUE(test::WaitFor([&] { return list->IsSelected(0); }, "the first entry selected"));
      test::Click(Find<wxButton>(to, wxID_OK));
    });
    auto* list = Find<wxListBox>(d, id::kRecipients);
    ASSERT_EQ(list->GetCount(), 1u);
    EXPECT_EQ(list->GetString(0), FaxSenderOrRecipient(users[0]).GetLabelLan());
    EXPECT_TRUE(Find<wxButton>(d, id::kSend)->IsEnabled());

    // Send: the Status dialog, then the dialog ends with OK. While the send
    // is under way, everything of the Send Fax dialog is disabled (they all
    // once looked enabled until Send returned), and the dialog is drawn.
    WithChild(Find<wxButton>(d, id::kSend), [&](wxDialog& status) {
      for (int control : {id::kName, id::kNumber, id::kRecipients, id::kSend, id::kAddRemove, id::kAddressBook,
                          id::kOptions, static_cast<int>(wxID_CANCEL)})
        EXPECT_FALSE(d.FindWindow(control)->IsEnabled()) << control;
      EXPECT_EQ(Find<wxStaticText>(d, id::kStatus)->GetLabel(), "Sending fax to . ...");
      test::Screenshot(&d, "sendfax", "send_fax_sending");
      EXPECT_EQ(status.GetTitle(), "Send Fax Status");
      EXPECT_EQ(Find<wxStaticText>(status, id::kFirstLine)->GetLabel(), "Success. Fax sent to ..");
      EXPECT_EQ(Find<wxStaticText>(status, id::kSecondLine)->GetLabel().substr(0, 26), "Scheduled for delivery at ");
      test::Screenshot(&status, "sendfax", "status");
      test::Click(Find<wxButton>(status, wxID_OK));
    });
  });
  EXPECT_EQ(code, wxID_OK);
  EXPECT_TRUE(prompts_.prompts().empty());
  EXPECT_TRUE(fs::is_empty(GetUserEnvironment().GetOutBoxPath()));
}

// With a 15 pt desktop font a long name with a long number shows whole in
// the recipients list (it once lost its number), and the dialog can be
// made larger by hand.
class SendFaxLargeFontTest : public SendFaxWindowTest {
 protected:
  void SetUp() override {
    g_object_set(gtk_settings_get_default(), "gtk-font-name", "DejaVu Sans 15", nullptr);
    SendFaxWindowTest::SetUp();
  }
};

TEST_F(SendFaxLargeFontTest, ALongRecipientShowsWholeAndTheDialogResizes) {
  RunModal([&](SendFaxDialog& d) {
    auto* list = Find<wxListBox>(d, id::kRecipients);
    test::Type(Find<wxTextCtrl>(d, id::kName), "Harbour Office");
    test::Type(Find<wxTextCtrl>(d, id::kNumber), "385-1(23)4P#*,WABCDT");
    test::Click(Find<wxButton>(d, id::kAddRemove));
    ASSERT_TRUE(test::WaitFor([&] { return list->GetCount() == 1; }, "the recipient listed"));
    EXPECT_EQ(list->GetString(0), "Harbour Office: 385-1(23)4P#*,WABCDT");
    const int longest = list->GetTextExtent(list->GetString(0)).x;
    EXPECT_TRUE(test::WaitFor([&] { return list->GetClientSize().x >= longest; }, "the entry shown whole"));
    test::Screenshot(&d, "sendfax", "send_fax_15pt");
    EXPECT_TRUE(d.HasFlag(wxRESIZE_BORDER));
    const wxSize before = d.GetSize();
    d.SetSize(wxSize(before.x + 120, before.y + 80));
    EXPECT_TRUE(test::WaitFor([&] { return list->GetSize().y > 0 && d.GetSize().x >= before.x + 120; }, "the dialog larger"));
    prompts_.Answer(desktop::Answer::Yes);
    test::Click(Find<wxButton>(d, wxID_CANCEL));
  });
}

}  // namespace
}  // namespace korvo::sendfax
