#include "manager/view/server_parameters_dialog.h"

#include <wx/button.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "manager/view/byte_limit.h"

namespace korvo::manager {
namespace {

wxTextCtrl* AddEdit(wxWindow* parent, wxFlexGridSizer* grid, const char* label, int id, const std::string& value,
                    std::size_t bytes) {
  grid->Add(new wxStaticText(parent, wxID_ANY, label), 0, wxALIGN_CENTER_VERTICAL);
  auto* edit = new wxTextCtrl(parent, id, wxString::FromUTF8(value), wxDefaultPosition, wxSize(200, -1));
  if (bytes > 0) LimitBytes(edit, bytes);
  grid->Add(edit, 1, wxEXPAND);
  return edit;
}

}  // namespace

ServerParametersDialog::ServerParametersDialog(wxWindow* parent, UiServices& ui, const ConnectionSettings& settings,
                                               uint16_t version, const std::string& server)
    : wxDialog(parent, wxID_ANY, "Server Parameters"), model_(ui, settings, version, server) {
  auto* grid = new wxFlexGridSizer(2, 8, 8);
  grid->AddGrowableCol(1);
  stationId_ = AddEdit(this, grid, "Station Identifier:", kServerParametersStationId, settings.stationId,
                       ServerParameters::kStationIdLimit);
  retryCount_ = AddEdit(this, grid, "Retry Count:", kServerParametersRetryCount,
                        std::to_string(settings.retryAttempts), 0);
  retryInterval_ = AddEdit(this, grid, "Retry Interval (Minutes):", kServerParametersRetryInterval,
                           std::to_string(settings.retryInterval), 0);
  grid->Add(new wxStaticText(this, wxID_ANY, "Server Version:"), 0, wxALIGN_CENTER_VERTICAL);
  grid->Add(new wxStaticText(this, kServerParametersVersion, wxString::FromUTF8(model_.versionText())), 0,
            wxALIGN_CENTER_VERTICAL);
  auto* all = new wxBoxSizer(wxVERTICAL);
  all->Add(grid, 1, wxEXPAND | wxALL, 12);
  all->Add(CreateStdDialogButtonSizer(wxOK | wxCANCEL), 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 12);
  SetSizerAndFit(all);
  CentreOnParent();
}

bool ServerParametersDialog::TransferDataFromWindow() {
  int focus = 0;
  if (model_.Apply(stationId_->GetValue().utf8_string(), retryCount_->GetValue().utf8_string(),
                   retryInterval_->GetValue().utf8_string(), &focus))
    return true;
  if (auto* edit = dynamic_cast<wxTextCtrl*>(focus ? FindWindow(focus) : nullptr)) {
    edit->SetFocus();
    edit->SelectAll();
  }
  return false;
}

}  // namespace korvo::manager
