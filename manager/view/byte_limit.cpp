#include "manager/view/byte_limit.h"

#include <algorithm>
#include <memory>

#include <wx/textctrl.h>
#include <wx/utils.h>

#include "manager/dialog_rules.h"

namespace korvo::manager {

void LimitBytes(wxTextCtrl* edit, std::size_t bytes) {
  auto accepted = std::make_shared<wxString>(edit->GetValue());
  edit->Bind(wxEVT_TEXT, [edit, bytes, accepted](wxCommandEvent& event) {
    const wxString now = edit->GetValue();
    if (FitsField(now.utf8_string(), bytes)) {
      *accepted = now;
      event.Skip();
      return;
    }
    // The caret goes back to where the refused input began. SetValue sends
    // the event again, so the dialog's other handlers see the text that stays.
    const long grown = static_cast<long>(now.length()) - static_cast<long>(accepted->length());
    const long caret = std::clamp(edit->GetInsertionPoint() - grown, 0L, static_cast<long>(accepted->length()));
    edit->SetValue(*accepted);
    edit->SetInsertionPoint(caret);
    wxBell();
  });
}

}  // namespace korvo::manager
