// The Go To and About dialogs.
#pragma once

#include <cstdint>
#include <optional>

#include <wx/dialog.h>
#include <wx/textctrl.h>

namespace korvo {

// Asks for a page number from 1 to the page count; a number outside them is
// refused with the range message and the dialog stays.
class GoToDialog : public wxDialog {
 public:
  GoToDialog(wxWindow* parent, uint16_t current, uint16_t pageCount);
  bool TransferDataFromWindow() override;
  // The page chosen, from 1.
  uint16_t Page() const { return page_; }
  wxTextCtrl* NumberField() const { return number_; }

 private:
  wxTextCtrl* number_;
  uint16_t pageCount_;
  uint16_t page_ = 0;
};

class AboutDialog : public wxDialog {
 public:
  explicit AboutDialog(wxWindow* parent);
};

}  // namespace korvo
