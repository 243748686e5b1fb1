// The Fax Recipients dialog: every recipient of one fax, in the header's
// order, in list box 1048.
#pragma once

#include <wx/dialog.h>

#include "common/fax_header.h"

class wxListBox;

namespace korvo::manager {

inline constexpr int kFaxRecipientsList = 1048;

class FaxRecipientsDialog : public wxDialog {
 public:
  FaxRecipientsDialog(wxWindow* parent, const FaxHeader& header);
  wxListBox* list() const { return list_; }

 private:
  wxListBox* list_;
};

}  // namespace korvo::manager
