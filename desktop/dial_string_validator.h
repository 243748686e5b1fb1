// DialStringEdit on a wx text control: SetValidator(DialStringValidator())
// drops every typed character that DialStringAccepts refuses and beeps.
// Keys that type no character (arrows, Delete, Home), the dialog's own keys
// (Tab, Enter, Escape) and shortcuts (Alt+letter, Ctrl+letter) pass, as the
// dialog or the edit handles them.
#pragma once

#include <functional>

#include <wx/validate.h>

namespace korvo::desktop {

class DialStringValidator : public wxValidator {
 public:
  // `beep` sounds for a dropped character; the display bell when not given.
  explicit DialStringValidator(std::function<void()> beep = {});
  DialStringValidator(const DialStringValidator& other);

  wxObject* Clone() const override { return new DialStringValidator(*this); }
  // The edit's text is its own: nothing to validate or transfer.
  bool Validate(wxWindow*) override { return true; }
  bool TransferToWindow() override { return true; }
  bool TransferFromWindow() override { return true; }

 private:
  void OnChar(wxKeyEvent& event);

  std::function<void()> beep_;
};

}  // namespace korvo::desktop
