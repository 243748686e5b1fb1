#include "viewer/app/dialogs.h"

#include <wx/button.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include "desktop/prompt.h"
#include "viewer/fax_image_document.h"
#include "viewer/viewer_ids.h"

namespace korvo {

namespace id = viewer_id;

GoToDialog::GoToDialog(wxWindow* parent, uint16_t current, uint16_t pageCount)
    : wxDialog(parent, id::kGoToDialog, "Go To"), pageCount_(pageCount) {
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  row->Add(new wxStaticText(this, wxID_ANY, "&Page number:"), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 8);
  number_ = new wxTextCtrl(this, id::kGoToNumber, wxString::Format("%u", static_cast<unsigned>(current) + 1),
                           wxDefaultPosition, wxSize(80, -1));
  row->Add(number_, 1, wxALIGN_CENTER_VERTICAL);
  auto* all = new wxBoxSizer(wxVERTICAL);
  all->Add(row, 0, wxEXPAND | wxALL, 12);
  all->Add(CreateStdDialogButtonSizer(wxOK | wxCANCEL), 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 12);
  SetSizerAndFit(all);
  number_->SetFocus();
  number_->SelectAll();
  CentreOnParent();
}

bool GoToDialog::TransferDataFromWindow() {
  const GoToEntry entry = ParseGoToPage(number_->GetValue().utf8_string(), pageCount_);
  if (!entry.page) {
    desktop::Prompts().Message(this, entry.message, kViewerAppName, desktop::Buttons::Ok, desktop::Icon::Warning);
    number_->SetFocus();
    number_->SelectAll();
    return false;
  }
  page_ = *entry.page;
  return true;
}

AboutDialog::AboutDialog(wxWindow* parent) : wxDialog(parent, id::kAboutDialog, "About Korvo Viewer") {
  auto* all = new wxBoxSizer(wxVERTICAL);
  auto* name = new wxStaticText(this, wxID_ANY, kViewerAppName);
  name->SetFont(name->GetFont().Bold().Larger());
  all->Add(name, 0, wxLEFT | wxRIGHT | wxTOP, 16);
  all->Add(new wxStaticText(this, id::kAboutVersion, wxString::Format("Version %s", kViewerVersion)), 0,
           wxLEFT | wxRIGHT | wxTOP, 16);
  all->Add(new wxStaticText(this, wxID_ANY, "Displays and prints fax image files."), 0, wxLEFT | wxRIGHT | wxTOP, 16);
  all->Add(CreateStdDialogButtonSizer(wxOK), 0, wxEXPAND | wxALL, 16);
  SetSizerAndFit(all);
  CentreOnParent();
}

}  // namespace korvo
