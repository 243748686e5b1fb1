// The setup wizard's sheet on a real display, driven by real clicks and
// keys: the install walk both ways with the server part off and on, the
// checks of the Options and Workstation pages, the cancel question, the
// progress page under the engine's three messages (given here by the test,
// as the engine's bridge gives them on the toolkit's thread) and the last page's Ok; the removal sheet.
// Screenshots of every page under build/artifacts/setup/.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <filesystem>

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/gauge.h>
#include <wx/radiobut.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>

#include "core/setup/app/wizard_sheet.h"
#include "desktop/screenshot.h"
#include "tests/support/gui/scripted_prompter.h"
#include "tests/support/gui/window_test.h"
#include "tests/support/sandbox.h"

namespace korvo::setup {
namespace {

using desktop::Answer;
using test::Click;
using test::PressKey;
using test::Screenshot;
using test::WaitFor;

template <class T>
T* Control(wxWindow* page, int id) {
  auto* control = dynamic_cast<T*>(page->FindWindow(id));
  EXPECT_NE(control, nullptr) << id;
  return control;
}

// Replaces an edit's text by typing.
void Retype(wxTextCtrl* edit, const std::string& text) {
  test::Type(edit, "");
  PressKey('A', wxMOD_CONTROL);
  PressKey(WXK_DELETE);
  wxUIActionSimulator().Text(text.c_str());
  WaitFor([&] { return edit->GetValue().utf8_string() == text || text.empty(); }, "the typed text");
}

class SetupWizardWindow : public test::WindowTest {
 protected:
  void SetUp() override {
    g_object_set(gtk_settings_get_default(), "gtk-enable-animations", FALSE, nullptr);
    probes.networkUp = [] { return true; };
    probes.hasAccount = [] { return true; };
    probes.thisMachine = [] { return std::string("faxhost"); };
    settings.rootDirectory = box.path("opt/korvo").string();
  }

  // Runs the sheet modally with the script inside it; the sheet's result.
  bool Run(WizardMode mode, std::function<void(WizardSheet&)> script) {
    // The read-me of the media, from the current folder.
    const std::filesystem::path saved = std::filesystem::current_path();
    std::filesystem::copy_file(test::SourceDir() / "media/README.TXT", box.path("README.TXT"),
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::current_path(box.root());
    SetupWizardModel model(mode, settings, prompts, probes, &networkChecked);
    std::filesystem::current_path(saved);
    auto* sheet = new WizardSheet(model, nullptr);
    test::WhenModal(kSheetId, [&](wxDialog&) { script(*sheet); });
    const bool finished = sheet->RunWizard(sheet->FirstPage());
    delete sheet;  // before the model it uses
    return finished;
  }
  bool On(WizardSheet& sheet, Page page) {
    return WaitFor([&] { return sheet.CurrentSheetPage() && sheet.CurrentSheetPage()->page() == page; },
                   InfoOf(page).caption);
  }
  void Next(WizardSheet& sheet) { Click(sheet.NextButton()); }
  // A picture once the page has been drawn anew (GTK draws on its frame
  // clock, after the events that changed the page) and the screen holds
  // still: three captures in a row alike.
  void Shot(WizardSheet& sheet, const std::string& name) {
    SheetPage* page = sheet.CurrentSheetPage();
    bool painted = false;
    auto onPaint = [&](wxPaintEvent& event) {
      painted = true;
      event.Skip();
    };
    page->Bind(wxEVT_PAINT, onPaint);
    page->Refresh();
    WaitFor([&] { return painted; }, "the page painted");
    page->Unbind(wxEVT_PAINT, onPaint);
    wxImage last;
    int alike = 0;
    WaitFor(
        [&] {
          wxImage now = desktop::CaptureWindow(&sheet);
          const bool same = last.IsOk() && now.IsOk() && now.GetSize() == last.GetSize() &&
                            std::equal(now.GetData(), now.GetData() + now.GetWidth() * now.GetHeight() * 3,
                                       last.GetData());
          alike = same ? alike + 1 : 0;
          last = now;
          return alike >= 2;
        },
        "the page drawn");
    Screenshot(&sheet, "setup", name);
  }

  test::Sandbox box;
  SetupSettings settings;
  test::ScriptedPrompter prompts;
  SetupProbes probes = MachineProbes([] {});
  bool networkChecked = false;
};

TEST_F(SetupWizardWindow, InstallWalkChecksProgressAndOk) {
  settings.server = 0;
  settings.workstation = 1;
  const bool finished = Run(WizardMode::Install, [&](WizardSheet& sheet) {
    ASSERT_TRUE(On(sheet, Page::Welcome));
    EXPECT_FALSE(sheet.BackButton()->IsEnabled());
    EXPECT_EQ(Control<wxStaticText>(sheet.CurrentSheetPage(), id::kWelcomeText)->GetLabel().utf8_string().substr(0, 30),
              std::string(kWelcomeText).substr(0, 30));
    Shot(sheet, "welcome");
    Next(sheet);
    ASSERT_TRUE(On(sheet, Page::Readme));
    Shot(sheet, "readme");
    Next(sheet);
    ASSERT_TRUE(On(sheet, Page::Options));
    SheetPage* options = sheet.CurrentSheetPage();
    EXPECT_FALSE(Control<wxRadioButton>(options, id::kServerOption)->GetValue());
    EXPECT_TRUE(Control<wxRadioButton>(options, id::kWorkstationOption)->GetValue());
    // A relative path is refused and the page stays.
    Retype(Control<wxTextCtrl>(options, id::kRootDirectory), "opt/korvo");
    prompts.Answer(Answer::Ok);
    Next(sheet);
    EXPECT_TRUE(On(sheet, Page::Options));
    ASSERT_EQ(prompts.prompts().size(), 1u);
    EXPECT_EQ(prompts.prompts()[0].caption, "Korvo Setup");
    Retype(Control<wxTextCtrl>(options, id::kRootDirectory), box.path("opt/korvo").string());
    Shot(sheet, "options");
    Next(sheet);
    // Without the server part the Fax Service Information page is skipped.
    ASSERT_TRUE(On(sheet, Page::WorkStation));
    EXPECT_EQ(settings.rootDirectory, box.path("opt/korvo").string());
    EXPECT_EQ(Control<wxTextCtrl>(sheet.CurrentSheetPage(), id::kDefaultServer)->GetValue(), "");
    prompts.Answer(Answer::Ok);
    Next(sheet);
    EXPECT_TRUE(On(sheet, Page::WorkStation));
    ASSERT_EQ(prompts.prompts().size(), 2u);
    EXPECT_EQ(prompts.prompts()[1].text, "Please specify Default Korvo Server");
    Click(sheet.BackButton());
    ASSERT_TRUE(On(sheet, Page::Options));
    // The server part now: the Fax Service Information page shows.
    Click(Control<wxRadioButton>(options, id::kServerOption));
    Next(sheet);
    ASSERT_TRUE(On(sheet, Page::MainInfo));
    SheetPage* info = sheet.CurrentSheetPage();
    test::Type(Control<wxTextCtrl>(info, id::kContactPerson), "Ana");
    // The numbers are taken as typed, "+" and all: nothing is checked here.
    test::Type(Control<wxTextCtrl>(info, id::kMainFaxNumber), "+385 1 555-0100");
    EXPECT_EQ(Control<wxTextCtrl>(info, id::kMainFaxNumber)->GetValue(), "+385 1 555-0100");
    test::Type(Control<wxTextCtrl>(info, id::kMainPhoneNumber), "+385 1 555-0199");
    EXPECT_EQ(Control<wxTextCtrl>(info, id::kMainPhoneNumber)->GetValue(), "+385 1 555-0199");
    test::Type(Control<wxTextCtrl>(info, id::kOrganization), "Velmora");
    Shot(sheet, "maininfo");
    Next(sheet);
    ASSERT_TRUE(On(sheet, Page::WorkStation));
    EXPECT_EQ(Control<wxTextCtrl>(sheet.CurrentSheetPage(), id::kDefaultServer)->GetValue(), "faxhost");
    Shot(sheet, "workstation");
    Next(sheet);
    ASSERT_TRUE(On(sheet, Page::Desktop));
    SheetPage* desk = sheet.CurrentSheetPage();
    EXPECT_FALSE(Control<wxCheckBox>(desk, id::kManagerInStartup)->GetValue());
    EXPECT_TRUE(Control<wxCheckBox>(desk, id::kNotifierInStartup)->GetValue());
    Click(Control<wxCheckBox>(desk, id::kManagerInStartup));
    Shot(sheet, "desktop");
    Next(sheet);
    ASSERT_TRUE(On(sheet, Page::Final));
    EXPECT_EQ(settings.managerInStartup, 1);
    const std::string summary = Control<wxTextCtrl>(sheet.CurrentSheetPage(), id::kSummary)->GetValue().utf8_string();
    EXPECT_EQ(summary, SetupSummary(settings));
    EXPECT_NE(summary.find("Server installation: Yes\n\nWorkstation installation: Yes\n\nDefault Korvo Server: "
                           "faxhost"),
              std::string::npos)
        << summary;
    EXPECT_NE(summary.find("Contact Person: Ana\n  Main Fax Number: +385 1 555-0100\n  Main Phone Number: +385 1 555-0199"), std::string::npos) << summary;
    Shot(sheet, "final");
    // Back walks the same pages in reverse, then forward again.
    for (Page page : {Page::Desktop, Page::WorkStation, Page::MainInfo}) {
      Click(sheet.BackButton());
      ASSERT_TRUE(On(sheet, page));
    }
    for (Page page : {Page::WorkStation, Page::Desktop, Page::Final, Page::Progress}) {
      Next(sheet);
      ASSERT_TRUE(On(sheet, page));
    }
    EXPECT_FALSE(sheet.NextButton()->IsEnabled());
    EXPECT_FALSE(sheet.BackButton()->IsEnabled());
    SheetPage* progress = sheet.CurrentSheetPage();
    sheet.ProgressText("Copying korvodesk file");
    for (int i = 0; i < 10; ++i) sheet.ProgressStep();
    ASSERT_TRUE(WaitFor([&] { return Control<wxGauge>(progress, id::kProgressBar)->GetValue() == 20; }, "ten steps"));
    EXPECT_EQ(Control<wxStaticText>(progress, id::kProgressText)->GetLabel().utf8_string(),
              "Copying korvodesk file" + std::string(33, ' '));
    Shot(sheet, "progress");
    // The cancel question on the progress page; No goes on.
    prompts.Answer(Answer::No);
    Click(sheet.CancelButton());
    ASSERT_TRUE(WaitFor([&] { return prompts.Done(); }, "the cancel question"));
    EXPECT_EQ(prompts.prompts().back().caption, "Korvo Setup");
    sheet.Finished(1);
    ASSERT_TRUE(On(sheet, Page::Done));
    EXPECT_EQ(sheet.NextButton()->GetLabel(), "Ok");
    EXPECT_TRUE(sheet.NextButton()->IsEnabled());
    EXPECT_FALSE(sheet.BackButton()->IsEnabled());
    Shot(sheet, "done");
    Click(sheet.NextButton());
  });
  EXPECT_TRUE(finished);
  EXPECT_TRUE(prompts.Done());
}

TEST_F(SetupWizardWindow, CancelAsksOnlyWherePagesAsk) {
  // Welcome: no question.
  EXPECT_FALSE(Run(WizardMode::Install, [&](WizardSheet& sheet) {
    ASSERT_TRUE(On(sheet, Page::Welcome));
    Click(sheet.CancelButton());
  }));
  EXPECT_TRUE(prompts.prompts().empty());
  // Readme: No keeps the sheet, Yes ends it; Escape is Cancel too.
  EXPECT_FALSE(Run(WizardMode::Install, [&](WizardSheet& sheet) {
    ASSERT_TRUE(On(sheet, Page::Welcome));
    Next(sheet);
    ASSERT_TRUE(On(sheet, Page::Readme));
    prompts.Answer(Answer::No);
    Click(sheet.CancelButton());
    ASSERT_TRUE(WaitFor([&] { return prompts.Done(); }, "the first question"));
    EXPECT_TRUE(On(sheet, Page::Readme));
    prompts.Answer(Answer::Yes);
    PressKey(WXK_ESCAPE);
  }));
  EXPECT_EQ(prompts.prompts().size(), 2u);
  EXPECT_TRUE(prompts.Done());
}

TEST_F(SetupWizardWindow, ProgressFailureCancelsAndDoneCancelEndsWithoutQuestion) {
  settings.server = 0;
  settings.defaultServer = "hub";
  auto toProgress = [&](WizardSheet& sheet) {
    for (Page page : {Page::Readme, Page::Options, Page::WorkStation, Page::Desktop, Page::Final, Page::Progress}) {
      Next(sheet);
      ASSERT_TRUE(On(sheet, page));
    }
  };
  // A failed installation presses Cancel: the question, answered Yes.
  EXPECT_FALSE(Run(WizardMode::Install, [&](WizardSheet& sheet) {
    ASSERT_TRUE(On(sheet, Page::Welcome));
    toProgress(sheet);
    prompts.Answer(Answer::Yes);
    sheet.Finished(0);
  }));
  ASSERT_EQ(prompts.prompts().size(), 1u);
  EXPECT_EQ(prompts.prompts()[0].text,
            "The Korvo Setup is not complete.\nDo you want to cancel Korvo Setup and exit this program ?");
  // Cancel on the last page: no question.
  EXPECT_FALSE(Run(WizardMode::Install, [&](WizardSheet& sheet) {
    ASSERT_TRUE(On(sheet, Page::Welcome));
    toProgress(sheet);
    sheet.Finished(1);
    ASSERT_TRUE(On(sheet, Page::Done));
    Click(sheet.CancelButton());
  }));
  EXPECT_EQ(prompts.prompts().size(), 1u);
}

TEST_F(SetupWizardWindow, RemovalSheet) {
  settings.workstation = 0x11E;  // an installed workstation: its last page says what was removed
  EXPECT_TRUE(Run(WizardMode::Remove, [&](WizardSheet& sheet) {
    ASSERT_TRUE(On(sheet, Page::RemoveWelcome));
    EXPECT_FALSE(sheet.BackButton()->IsEnabled());
    Shot(sheet, "remove-welcome");
    Next(sheet);
    ASSERT_TRUE(On(sheet, Page::RemoveFinal));
    EXPECT_FALSE(sheet.NextButton()->IsEnabled());
    sheet.ProgressText("Remove Server files ...");
    for (int i = 0; i < 20; ++i) sheet.ProgressStep();
    ASSERT_TRUE(WaitFor([&] { return Control<wxGauge>(sheet.CurrentSheetPage(), id::kProgressBar)->GetValue() == 40; },
                        "20 steps"));
    Shot(sheet, "remove-final");
    sheet.Finished(1);
    ASSERT_TRUE(On(sheet, Page::RemoveDone));
    EXPECT_EQ(sheet.NextButton()->GetLabel(), "Ok");
    Shot(sheet, "remove-done");
    Click(sheet.NextButton());
  }));
  // A failed removal ends the sheet; its progress page asks nothing.
  EXPECT_FALSE(Run(WizardMode::Remove, [&](WizardSheet& sheet) {
    ASSERT_TRUE(On(sheet, Page::RemoveWelcome));
    Next(sheet);
    ASSERT_TRUE(On(sheet, Page::RemoveFinal));
    sheet.Finished(0);
  }));
  EXPECT_TRUE(prompts.prompts().empty());
}

}  // namespace
}  // namespace korvo::setup
