// DialStringEdit on a real text control: typed keys that no dial string holds
// are dropped with a beep, editing keys still work.
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/frame.h>
#include <wx/sizer.h>
#include <wx/textctrl.h>

#include "desktop/dial_string_validator.h"
#include "tests/support/gui/window_test.h"

namespace korvo::test {
namespace {

class DialStringWindowTest : public WindowTest {};

TEST_F(DialStringWindowTest, TypedCharactersOutsideADialStringBeepAndAreDropped) {
  int beeps = 0;
  auto* frame = new wxFrame(nullptr, wxID_ANY, "Fax Number", wxDefaultPosition, wxSize(300, 80));
  auto* edit = new wxTextCtrl(frame, wxID_ANY);
  edit->SetValidator(desktop::DialStringValidator([&] { ++beeps; }));
  ShowAndWait(frame);

  Type(edit, "a9,(555) 12x-34*#W");
  ASSERT_TRUE(WaitFor([&] { return edit->GetValue() == "9,(555) 12-34*#W"; }, "the admitted characters"));
  EXPECT_EQ(beeps, 2);
  // Backspace and the cursor keys edit as always.
  PressKey(WXK_BACK);
  PressKey(WXK_HOME);
  PressKey(WXK_DELETE);
  ASSERT_TRUE(WaitFor([&] { return edit->GetValue() == ",(555) 12-34*#"; }, "the edited number"));
  EXPECT_EQ(beeps, 2);
}

// The dialog's shortcuts (Alt+S of "&Send") and the navigation keys reach
// the dialog from inside the edit: "type the number, press Alt+S" sends. The
// filter once dropped Alt+letter as a character it would not take.
TEST_F(DialStringWindowTest, ShortcutsAndNavigationKeysPassTheFilter) {
  int beeps = 0, sends = 0;
  auto* dialog = new wxDialog(nullptr, wxID_ANY, "Send Fax");
  auto* edit = new wxTextCtrl(dialog, wxID_ANY);
  edit->SetValidator(desktop::DialStringValidator([&] { ++beeps; }));
  auto* send = new wxButton(dialog, wxID_ANY, "&Send");
  auto* other = new wxButton(dialog, wxID_ANY, "&Options");
  send->Bind(wxEVT_BUTTON, [&](wxCommandEvent&) { ++sends; });
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  for (wxWindow* w : {static_cast<wxWindow*>(edit), static_cast<wxWindow*>(send), static_cast<wxWindow*>(other)})
    sizer->Add(w, 0, wxEXPAND | wxALL, 4);
  dialog->SetSizerAndFit(sizer);
  ShowAndWait(dialog);

  Type(edit, "200");
  ASSERT_TRUE(WaitFor([&] { return edit->GetValue() == "200"; }, "the number"));
  PressKey('S', wxMOD_ALT);
  ASSERT_TRUE(WaitFor([&] { return sends == 1; }, "Alt+S pressing Send"));
  // Tab leaves the edit for the next control.
  edit->SetFocus();
  ASSERT_TRUE(WaitFor([&] { return wxWindow::FindFocus() == edit; }, "the edit focused"));
  PressKey(WXK_TAB);
  ASSERT_TRUE(WaitFor([&] { return wxWindow::FindFocus() != edit; }, "the focus moved on"));
  EXPECT_EQ(edit->GetValue(), "200");
  EXPECT_EQ(beeps, 0);
  dialog->Destroy();
}

}  // namespace
}  // namespace korvo::test
