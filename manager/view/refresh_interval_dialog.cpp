#include "manager/view/refresh_interval_dialog.h"

#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "desktop/prompt.h"
#include "manager/dialog_rules.h"

namespace korvo::manager {

RefreshIntervalDialog::RefreshIntervalDialog(wxWindow* parent, int seconds)
    : wxDialog(parent, kRefreshIntervalDialog, "Refresh Interval"), seconds_(seconds) {
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  row->Add(new wxStaticText(this, wxID_ANY, "Refresh Interval (Seconds)"), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 8);
  edit_ = new wxTextCtrl(this, kRefreshIntervalEdit, wxString::Format("%d", seconds), wxDefaultPosition,
                         wxSize(90, -1));
  row->Add(edit_, 1, wxALIGN_CENTER_VERTICAL);
  auto* all = new wxBoxSizer(wxVERTICAL);
  all->Add(row, 0, wxEXPAND | wxALL, 12);
  all->Add(CreateStdDialogButtonSizer(wxOK | wxCANCEL), 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 12);
  SetSizerAndFit(all);
  edit_->SetFocus();
  edit_->SelectAll();
  CentreOnParent();
}

bool RefreshIntervalDialog::TransferDataFromWindow() {
  const IntegerEntry entry = ParseRefreshInterval(edit_->GetValue().utf8_string());
  if (!entry.value) {
    desktop::Prompts().Message(this, entry.message, "Korvo Manager", desktop::Buttons::Ok, desktop::Icon::Warning);
    edit_->SetFocus();
    edit_->SelectAll();
    return false;
  }
  seconds_ = *entry.value;
  return true;
}

}  // namespace korvo::manager
