// The Dispatch Faxes dialog (137): one registered user of a server chosen
// from a read-only drop-down list (1015) that is filled from the server when
// it first opens; OK while a user is selected. Titled "Dispatch Faxes" or
// "Forward Faxes" by its caller.
#pragma once

#include <string>

#include <wx/dialog.h>

#include "manager/user_choice.h"

class wxComboBox;

namespace korvo::manager {

class UserChoiceDialog : public wxDialog {
 public:
  UserChoiceDialog(wxWindow* parent, UiServices& ui, const std::string& server, const std::string& title);
  // The selected user after OK.
  const std::string& chosen() const { return chosen_; }
  const UserChoice& model() const { return model_; }
  bool TransferDataFromWindow() override;

 private:
  void OnDropDown(wxCommandEvent& event);
  void FillIfEmpty();
  void OnSelect(wxCommandEvent& event);
  void UpdateOk();

  UserChoice model_;
  wxComboBox* list_;
  std::string chosen_;
};

}  // namespace korvo::manager
