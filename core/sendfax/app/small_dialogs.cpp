// The Options, Send Fax To and Status dialogs of the Send Fax road.
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/combobox.h>
#include <wx/listbox.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include "core/sendfax/app/dialogs.h"
#include "core/sendfax/status_model.h"

namespace korvo::sendfax {
namespace {

wxString Wx(const std::string& text) { return wxString::FromUTF8(text); }

wxSizer* OkCancel(wxDialog* dialog) {
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  row->AddStretchSpacer();
  row->Add(new wxButton(dialog, wxID_OK, "OK"), 0, wxRIGHT, 8);
  row->Add(new wxButton(dialog, wxID_CANCEL, "Cancel"));
  return row;
}

}  // namespace

SendFaxOptionsDialog::SendFaxOptionsDialog(wxWindow* parent, SendFaxJob& job, int64_t now)
    : wxDialog(parent, wxID_ANY, "Send Fax Options"), model_(job, now) {
  auto* grid = new wxFlexGridSizer(2, wxSize(8, 6));
  grid->AddGrowableCol(1);
  grid->Add(new wxStaticText(this, wxID_ANY, "Subject:"), 0, wxALIGN_CENTER_VERTICAL);
  subject_ = new wxTextCtrl(this, id::kSubject, Wx(model_.subject), wxDefaultPosition, wxSize(280, -1));
  grid->Add(subject_, 1, wxEXPAND);
  grid->Add(new wxStaticText(this, wxID_ANY, "Server:"), 0, wxALIGN_CENTER_VERTICAL);
  server_ = new wxComboBox(this, id::kServer, "", wxDefaultPosition, wxDefaultSize, 0, nullptr, wxCB_DROPDOWN);
  for (const auto& s : model_.serverNames()) server_->Append(Wx(s));
  server_->SetValue(Wx(model_.server));
  grid->Add(server_, 1, wxEXPAND);
  grid->Add(new wxStaticText(this, wxID_ANY, "Send &time:"), 0, wxALIGN_CENTER_VERTICAL);
  sendTime_ = new wxComboBox(this, id::kSendTime, "", wxDefaultPosition, wxDefaultSize, 0, nullptr, wxCB_READONLY);
  for (const auto& t : model_.times()) sendTime_->Append(Wx(t.text));
  if (model_.selected() >= 0) sendTime_->SetSelection(model_.selected());
  sendTime_->Bind(wxEVT_COMBOBOX, [this](wxCommandEvent&) { model_.Select(sendTime_->GetSelection()); });
  grid->Add(sendTime_, 1, wxEXPAND);

  auto check = [this](int id, const char* label, int value) {
    auto* box = new wxCheckBox(this, id, label);
    box->SetValue(value != 0);
    return box;
  };
  highPriority_ = check(id::kHighPriority, "&High Priority", model_.highPriority);
  keepSentFax_ = check(id::kKeepSentFax, "Keep sent fax", model_.keepSentFax);
  coverPage_ = check(id::kCoverPage, "Send Cover Page", model_.sendCoverPage);
  preview_ = check(id::kPreview, "Preview fax before sending", model_.preview);
  saferDialing_ = check(id::kSaferDialing, "Safer dialing and transmission", model_.saferDialing);

  auto* top = new wxBoxSizer(wxVERTICAL);
  top->Add(grid, 0, wxEXPAND | wxALL, 10);
  for (wxCheckBox* box : {highPriority_, keepSentFax_, coverPage_, preview_, saferDialing_})
    top->Add(box, 0, wxLEFT | wxRIGHT | wxBOTTOM, 10);
  top->Add(OkCancel(this), 0, wxEXPAND | wxALL, 10);
  SetSizerAndFit(top);
  CentreOnParent();
}

bool SendFaxOptionsDialog::TransferDataFromWindow() {
  model_.subject = subject_->GetValue().utf8_string();
  model_.server = server_->GetValue().utf8_string();
  model_.highPriority = highPriority_->GetValue();
  model_.keepSentFax = keepSentFax_->GetValue();
  model_.sendCoverPage = coverPage_->GetValue();
  model_.preview = preview_->GetValue();
  model_.saferDialing = saferDialing_->GetValue();
  model_.Apply();
  return true;
}

SendFaxToDialog::SendFaxToDialog(wxWindow* parent, SendFaxJob& job)
    : wxDialog(parent, wxID_ANY, "Send Fax To:", wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER) {
  useGlobal_ = new wxCheckBox(this, id::kUseGlobal, "Use Global Address Book");
  list_ = new wxListBox(this, id::kBookList, wxDefaultPosition, wxSize(320, 200), 0, nullptr, wxLB_EXTENDED);
  {
    wxBusyCursor wait;
    model_ = std::make_unique<SendFaxToModel>(job);
  }
  ShowList();
  useGlobal_->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) {
    wxBusyCursor wait;
    model_->SetUseGlobal(useGlobal_->GetValue());
    ShowList();
  });
  auto* top = new wxBoxSizer(wxVERTICAL);
  top->Add(useGlobal_, 0, wxALL, 10);
  top->Add(list_, 1, wxEXPAND | wxLEFT | wxRIGHT, 10);
  top->Add(OkCancel(this), 0, wxEXPAND | wxALL, 10);
  SetSizerAndFit(top);
  SetMinSize(GetSize());
  FitListToEntries(list_, this);
  CentreOnParent();
}

void SendFaxToDialog::ShowList() {
  useGlobal_->SetValue(model_->useGlobal());
  list_->Clear();
  for (const auto& e : model_->entries()) list_->Append(Wx(e.text));
  if (GetSizer()) FitListToEntries(list_, this);
}

bool SendFaxToDialog::TransferDataFromWindow() {
  wxArrayInt rows;
  list_->GetSelections(rows);
  model_->Apply(std::vector<int>(rows.begin(), rows.end()));
  return true;
}

SendFaxStatusDialog::SendFaxStatusDialog(wxWindow* parent, const SendFaxJob& job, bool success)
    : wxDialog(parent, wxID_ANY, "Send Fax Status") {
  StatusLines lines(job, success);
  auto* top = new wxBoxSizer(wxVERTICAL);
  top->Add(new wxStaticText(this, id::kFirstLine, Wx(lines.first)), 0, wxLEFT | wxRIGHT | wxTOP, 14);
  top->Add(new wxStaticText(this, id::kSecondLine, Wx(lines.second)), 0, wxALL, 14);
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  row->AddStretchSpacer();
  row->Add(new wxButton(this, wxID_OK, "OK"));
  row->AddStretchSpacer();
  top->Add(row, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 10);
  SetSizerAndFit(top);
  SetMinSize(wxSize(320, -1));
  Fit();
  CentreOnParent();
  if (lines.beep) wxBell();
}

}  // namespace korvo::sendfax
