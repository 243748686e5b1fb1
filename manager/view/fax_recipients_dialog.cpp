#include "manager/view/fax_recipients_dialog.h"

#include <wx/button.h>
#include <wx/listbox.h>
#include <wx/sizer.h>

#include "manager/user_fax_list.h"

namespace korvo::manager {

FaxRecipientsDialog::FaxRecipientsDialog(wxWindow* parent, const FaxHeader& header)
    : wxDialog(parent, wxID_ANY, "Fax Recipients") {
  wxArrayString lines;
  for (const std::string& line : RecipientLines(header)) lines.Add(wxString::FromUTF8(line));
  list_ = new wxListBox(this, kFaxRecipientsList, wxDefaultPosition, wxSize(280, 160), lines);
  auto* all = new wxBoxSizer(wxVERTICAL);
  all->Add(list_, 1, wxEXPAND | wxALL, 12);
  all->Add(CreateStdDialogButtonSizer(wxOK), 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 12);
  SetSizerAndFit(all);
  SetEscapeId(wxID_OK);
  CentreOnParent();
}

}  // namespace korvo::manager
