#include "manager/view/user_choice_dialog.h"

#include <wx/button.h>
#include <wx/combobox.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

namespace korvo::manager {

UserChoiceDialog::UserChoiceDialog(wxWindow* parent, UiServices& ui, const std::string& server,
                                   const std::string& title)
    : wxDialog(parent, kUserChoiceDialog, "Dispatch Faxes"), model_(ui, server, title) {
  SetTitle(wxString::FromUTF8(title));
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  row->Add(new wxStaticText(this, wxID_ANY, "To User:"), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 8);
  // The names come sorted from the model, which fills them at the first
  // opening; the toolkit's own sorting would order them its own way.
  list_ = new wxComboBox(this, kUserChoiceList, wxEmptyString, wxDefaultPosition, wxSize(220, -1), 0, nullptr,
                         wxCB_READONLY | wxCB_DROPDOWN);
  row->Add(list_, 1, wxALIGN_CENTER_VERTICAL);
  auto* all = new wxBoxSizer(wxVERTICAL);
  all->Add(row, 0, wxEXPAND | wxALL, 12);
  all->Add(CreateStdDialogButtonSizer(wxOK | wxCANCEL), 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 12);
  SetSizerAndFit(all);
  list_->Bind(wxEVT_COMBOBOX_DROPDOWN, &UserChoiceDialog::OnDropDown, this);
  list_->Bind(wxEVT_COMBOBOX, &UserChoiceDialog::OnSelect, this);
  // GTK opens no popup for an empty list, so the press that would open it
  // fills the list first; the toolkit then drops down what came.
  list_->Bind(wxEVT_LEFT_DOWN, [this](wxMouseEvent& e) {
    FillIfEmpty();
    e.Skip();
  });
  list_->Bind(wxEVT_KEY_DOWN, [this](wxKeyEvent& e) {
    const int key = e.GetKeyCode();
    if (key == WXK_F4 || key == WXK_SPACE || key == WXK_RETURN || (e.AltDown() && (key == WXK_DOWN || key == WXK_UP)))
      FillIfEmpty();
    e.Skip();
  });
  UpdateOk();
  CentreOnParent();
}

void UserChoiceDialog::OnDropDown(wxCommandEvent& event) {
  FillIfEmpty();
  event.Skip();
}

void UserChoiceDialog::FillIfEmpty() {
  if (list_->GetCount() != 0) return;
  model_.OnDropDown();
  wxArrayString names;
  for (const std::string& name : model_.names()) names.Add(wxString::FromUTF8(name));
  if (!names.empty()) list_->Set(names);
}

void UserChoiceDialog::OnSelect(wxCommandEvent& event) {
  model_.Select(list_->GetSelection());
  UpdateOk();
  event.Skip();
}

void UserChoiceDialog::UpdateOk() {
  if (wxWindow* ok = FindWindow(wxID_OK)) ok->Enable(model_.OkEnabled());
}

bool UserChoiceDialog::TransferDataFromWindow() {
  if (!model_.OkEnabled()) return false;
  chosen_ = model_.chosen();
  return true;
}

}  // namespace korvo::manager
