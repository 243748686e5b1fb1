#include "desktop/dial_string_validator.h"

#include <utility>

#include <wx/event.h>
#include <wx/utils.h>

#include "desktop/dial_string.h"

namespace korvo::desktop {

DialStringValidator::DialStringValidator(std::function<void()> beep) : beep_(std::move(beep)) {
  Bind(wxEVT_CHAR, &DialStringValidator::OnChar, this);
}

DialStringValidator::DialStringValidator(const DialStringValidator& other)
    : wxValidator(other), beep_(other.beep_) {
  Bind(wxEVT_CHAR, &DialStringValidator::OnChar, this);
}

void DialStringValidator::OnChar(wxKeyEvent& event) {
  int character = event.GetUnicodeKey();
  // Shortcuts (Alt+S of "&Send Fax") belong to the dialog, not the number.
  const bool shortcut = event.AltDown() || event.ControlDown();
  bool passes = shortcut || character == WXK_NONE || character == WXK_TAB || character == WXK_RETURN ||
                character == WXK_ESCAPE || character == WXK_DELETE || DialStringAccepts(character);
  if (passes) {
    event.Skip();
    return;
  }
  if (beep_) beep_();
  else wxBell();
}

}  // namespace korvo::desktop
