// DialStringEdit on a real text control: typed keys that no dial string holds
// are dropped with a beep, editing keys still work.
#include <wx/frame.h>
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

}  // namespace
}  // namespace korvo::test
