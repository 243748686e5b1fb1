#include "manager/view/book_dialogs.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "desktop/dial_string_validator.h"
#include "desktop/prompt.h"
#include "manager/dialog_rules.h"
#include "manager/modems_list.h"
#include "manager/reg_users_book.h"
#include "manager/view/byte_limit.h"

namespace korvo::manager {
namespace {

wxString Text(const std::string& s) { return wxString::FromUTF8(s); }
std::string Value(const wxTextCtrl* edit) { return edit->GetValue().utf8_string(); }

// A labelled edit in a two-column grid that takes at most `bytes` bytes.
wxTextCtrl* AddEdit(wxWindow* parent, wxFlexGridSizer* grid, const char* label, int id, std::size_t bytes,
                    const std::string& value, int width = 220) {
  grid->Add(new wxStaticText(parent, wxID_ANY, label), 0, wxALIGN_CENTER_VERTICAL);
  auto* edit = new wxTextCtrl(parent, id, Text(value), wxDefaultPosition, wxSize(width, -1));
  LimitBytes(edit, bytes);
  grid->Add(edit, 1, wxEXPAND);
  return edit;
}

wxChoice* AddChoice(wxWindow* parent, wxFlexGridSizer* grid, const char* label, int id,
                    const std::vector<std::string>& items, int32_t selection) {
  grid->Add(new wxStaticText(parent, wxID_ANY, label), 0, wxALIGN_CENTER_VERTICAL);
  wxArrayString texts;
  for (const std::string& item : items) texts.Add(Text(item));
  auto* choice = new wxChoice(parent, id, wxDefaultPosition, wxDefaultSize, texts);
  if (selection >= 0 && selection < static_cast<int32_t>(items.size())) choice->SetSelection(selection);
  grid->Add(choice, 1, wxEXPAND);
  return choice;
}

wxFlexGridSizer* Grid() {
  auto* grid = new wxFlexGridSizer(2, 6, 8);
  grid->AddGrowableCol(1);
  return grid;
}

// The grid over OK and Cancel.
void Finish(wxDialog* dialog, wxSizer* body) {
  auto* all = new wxBoxSizer(wxVERTICAL);
  all->Add(body, 1, wxEXPAND | wxALL, 12);
  all->Add(dialog->CreateStdDialogButtonSizer(wxOK | wxCANCEL), 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 12);
  dialog->SetSizerAndFit(all);
  dialog->CentreOnParent();
}

void EnableOk(wxDialog* dialog, bool on) {
  if (wxWindow* ok = dialog->FindWindow(wxID_OK)) ok->Enable(on);
}

wxRadioButton* AddRadio(wxWindow* parent, wxSizer* row, const char* label, int id, bool first, bool on) {
  auto* radio = new wxRadioButton(parent, id, label, wxDefaultPosition, wxDefaultSize, first ? wxRB_GROUP : 0);
  radio->SetValue(on);
  row->Add(radio, 0, wxRIGHT, 12);
  return radio;
}

int32_t Checked(wxRadioButton* const* radios, int n) {
  for (int i = 0; i < n; ++i)
    if (radios[i]->GetValue()) return i;
  return 0;
}

}  // namespace

AddSenderDialog::AddSenderDialog(wxWindow* parent, JunkSenderEntry& entry, bool editMode)
    : wxDialog(parent, kAddSenderDialog, AddSenderTitle(editMode)), entry_(entry) {
  auto* grid = Grid();
  stationId_ = AddEdit(this, grid, "Station Identifier:", kStationId, field_size::kStationId, entry.stationId);
  name_ = AddEdit(this, grid, "Name / Comment:", kName, field_size::kSenderDescription, entry.description);
  Finish(this, grid);
  auto update = [this] { EnableOk(this, AddSenderOkEnabled(Value(stationId_))); };
  stationId_->Bind(wxEVT_TEXT, [update](wxCommandEvent& e) { update(); e.Skip(); });
  update();
  stationId_->SetFocus();
}

bool AddSenderDialog::TransferDataFromWindow() {
  entry_.stationId = Value(stationId_);
  entry_.description = Value(name_);
  return true;
}

AddAddressDialog::AddAddressDialog(wxWindow* parent, AddressEntry& entry, const std::string& title)
    : wxDialog(parent, kAddAddressDialog, Text(title)), entry_(entry) {
  auto* grid = Grid();
  edits_[0] = AddEdit(this, grid, "First Name:", kFirstName, field_size::kAddressFirstName, entry.firstName);
  edits_[1] = AddEdit(this, grid, "Last Name:", kLastName, field_size::kAddressText, entry.lastName);
  edits_[2] = AddEdit(this, grid, "Company:", kCompany, field_size::kAddressText, entry.company);
  edits_[3] = AddEdit(this, grid, "Fax Number:", kFax, field_size::kAddressNumber, entry.faxNumber);
  edits_[4] = AddEdit(this, grid, "Phone Number:", kPhone, field_size::kAddressNumber, entry.phoneNumber);
  edits_[5] = AddEdit(this, grid, "Address:", kAddress, field_size::kAddressText, entry.address);
  edits_[6] = AddEdit(this, grid, "Comment:", kComment, field_size::kAddressComment, entry.comment);
  edits_[3]->SetValidator(desktop::DialStringValidator());
  edits_[4]->SetValidator(desktop::DialStringValidator());
  Finish(this, grid);
  for (int i : {0, 1, 2, 3}) edits_[i]->Bind(wxEVT_TEXT, [this](wxCommandEvent& e) { UpdateOk(); e.Skip(); });
  UpdateOk();
  edits_[0]->SetFocus();
}

void AddAddressDialog::UpdateOk() {
  EnableOk(this, AddAddressOkEnabled(Value(edits_[3]), Value(edits_[0]), Value(edits_[1]), Value(edits_[2])));
}

bool AddAddressDialog::TransferDataFromWindow() {
  entry_.firstName = Value(edits_[0]);
  entry_.lastName = Value(edits_[1]);
  entry_.company = Value(edits_[2]);
  entry_.faxNumber = Value(edits_[3]);
  entry_.phoneNumber = Value(edits_[4]);
  entry_.address = Value(edits_[5]);
  entry_.comment = Value(edits_[6]);
  return true;
}

AddUserDialog::AddUserDialog(wxWindow* parent, RegisteredUserEntry& entry, bool editMode)
    : wxDialog(parent, kAddUserDialog, AddUserTitle(editMode)), entry_(entry) {
  auto* grid = Grid();
  edits_[0] = AddEdit(this, grid, "User Name:", kUserName, field_size::kUserName, entry.userName);
  edits_[1] = AddEdit(this, grid, "Full Name:", kFullName, field_size::kUserText, entry.fullName);
  edits_[2] = AddEdit(this, grid, "Description:", kDescription, field_size::kUserText, entry.description);
  edits_[3] = AddEdit(this, grid, "Email Address:", kEmail, field_size::kUserText, entry.email);
  auto* rights = new wxStaticBoxSizer(wxVERTICAL, this, "Permissions");
  const std::pair<int, const char*> boxes[] = {
      {kGlobalBook, "Global address book change"}, {kDispatch, "Dispatch faxes"}, {kAdministration, "Administration"}};
  const uint32_t bits[] = {kRightGlobalBook, kRightDispatch, kRightAdministration};
  for (int i = 0; i < 3; ++i) {
    checks_[i] = new wxCheckBox(rights->GetStaticBox(), boxes[i].first, wxString(boxes[i].second));
    checks_[i]->SetValue((entry.rights & bits[i]) != 0);
    rights->Add(checks_[i], 0, wxALL, 4);
  }
  auto* body = new wxBoxSizer(wxVERTICAL);
  body->Add(grid, 0, wxEXPAND);
  body->Add(rights, 0, wxEXPAND | wxTOP, 12);
  Finish(this, body);
  // The user name is the record's key.
  edits_[0]->Enable(!editMode);
  auto update = [this] { EnableOk(this, AddUserOkEnabled(Value(edits_[0]))); };
  edits_[0]->Bind(wxEVT_TEXT, [update](wxCommandEvent& e) { update(); e.Skip(); });
  update();
  (editMode ? edits_[1] : edits_[0])->SetFocus();
}

bool AddUserDialog::TransferDataFromWindow() {
  entry_.userName = Value(edits_[0]);
  entry_.fullName = Value(edits_[1]);
  entry_.description = Value(edits_[2]);
  entry_.email = Value(edits_[3]);
  entry_.rights = RightsFromChecks(checks_[0]->GetValue(), checks_[1]->GetValue(), checks_[2]->GetValue());
  return true;
}

ModemConfigDialog::ModemConfigDialog(wxWindow* parent, ModemRecord& record, bool editMode, const std::string& title,
                                     const std::string& server)
    : wxDialog(parent, kModemConfigDialog, Text(title)),
      record_(record),
      editMode_(editMode),
      title_(title),
      server_(server) {
  auto* grid = Grid();
  port_ = AddEdit(this, grid, "Port Name:", kPortName, field_size::kModemText, record.portName.Str());
  portRate_ = AddChoice(this, grid, "Port Data Rate:", kPortRate, PortRateItems(), record.portSpeed);
  auto radios = [&](const char* label, std::initializer_list<std::pair<int, const char*>> items, int32_t value,
                    wxRadioButton** out) {
    grid->Add(new wxStaticText(this, wxID_ANY, label), 0, wxALIGN_CENTER_VERTICAL);
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    int i = 0;
    for (const auto& [id, text] : items) {
      out[i] = AddRadio(this, row, text, id, i == 0, value == i);
      ++i;
    }
    grid->Add(row);
  };
  radios("Send/Receive Mode:", {{kSend, "Send"}, {kReceive, "Receive"}, {kBoth, "Both"}}, record.usage, usage_);
  radios("Pulse/Tone Dial:", {{kPulse, "Pulse"}, {kTone, "Tone"}}, record.dialMode, dial_);
  radios("Flow Control:", {{kHardware, "Hardware (RTS / CTS)"}, {kSoftware, "Software (XON / XOFF)"}},
         record.flowControl, flow_);
  rings_ = AddEdit(this, grid, "Number Of Rings Before Answering:", kRings, 6,
                   std::to_string(record.ringsBeforeAnswer), 60);
  prefix_ = AddEdit(this, grid, "Dial Prefix:", kDialPrefix, field_size::kModemText, record.dialPrefix.Str());
  modemName_ = AddEdit(this, grid, "Modem Name:", kModemName, field_size::kModemText, record.modemName.Str());
  faxRate_ = AddChoice(this, grid, "Fax Modem Data Rate:", kFaxRate, FaxRateItems(), record.faxSpeed);
  enabled_ = new wxCheckBox(this, kEnabled, "Configuration Enabled ");
  enabled_->SetValue(record.enabled != 0);
  auto* body = new wxBoxSizer(wxVERTICAL);
  body->Add(grid, 0, wxEXPAND);
  auto* last = new wxBoxSizer(wxHORIZONTAL);
  last->Add(enabled_, 1, wxALIGN_CENTER_VERTICAL);
  last->Add(new wxButton(this, kAdvanced, "&Advanced..."), 0);
  body->Add(last, 0, wxEXPAND | wxTOP, 12);
  Finish(this, body);

  port_->Enable(!editMode);
  auto update = [this] { EnableOk(this, ModemOkEnabled(Value(port_))); };
  port_->Bind(wxEVT_TEXT, [update](wxCommandEvent& e) { update(); e.Skip(); });
  update();
  // Only a modem that answers counts rings; on opening the edit takes input
  // whatever the mode.
  for (int i = 0; i < 3; ++i)
    usage_[i]->Bind(wxEVT_RADIOBUTTON, [this, i](wxCommandEvent&) { rings_->Enable(RingsEditEnabled(i)); });
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
    ModemAdvancedDialog advanced(this, record_, title_);
    advanced.ShowModal();
  }, kAdvanced);
}

bool ModemConfigDialog::TransferDataFromWindow() {
  const IntegerEntry rings = ParseRings(Value(rings_));
  if (!rings.value) {
    desktop::Prompts().Message(this, rings.message, "Korvo Manager", desktop::Buttons::Ok, desktop::Icon::Warning);
    rings_->SetFocus();
    rings_->SelectAll();
    return false;
  }
  record_.portName.Assign(Value(port_));
  record_.portSpeed = portRate_->GetSelection();
  record_.usage = Checked(usage_, 3);
  record_.dialMode = Checked(dial_, 2);
  record_.flowControl = Checked(flow_, 2);
  record_.ringsBeforeAnswer = *rings.value;
  record_.dialPrefix.Assign(Value(prefix_));
  record_.modemName.Assign(Value(modemName_));
  record_.faxSpeed = faxRate_->GetSelection();
  record_.enabled = enabled_->GetValue() ? 1 : 0;
  const RequestResult result = SubmitModem(record_, editMode_, server_);
  if (result.status != 0) {
    desktop::Prompts().Message(this, result.text, "Korvo Manager", desktop::Buttons::Ok, desktop::Icon::Warning);
    return false;
  }
  return true;
}

ModemAdvancedDialog::ModemAdvancedDialog(wxWindow* parent, ModemRecord& record, const std::string& title)
    : wxDialog(parent, kModemAdvancedDialog, Text(AdvancedTitle(title))), record_(record) {
  auto* grid = Grid();
  choices_[0] = AddChoice(this, grid, "Speaker Volume:", kVolume, SpeakerVolumeItems(), record.speakerVolume);
  choices_[1] = AddChoice(this, grid, "Speaker On / Off:", kSpeaker, SpeakerModeItems(), record.speakerMode);
  choices_[2] =
      AddChoice(this, grid, "Disable Call Waiting String:", kCallWaiting, CallWaitingItems(), record.callWaiting);
  choices_[3] = AddChoice(this, grid, "Class 2 Data Bit Order:", kBitOrder, BitOrderItems(), record.class2BitOrder);
  init_ = AddEdit(this, grid, "Additional Init String:", kInit, field_size::kModemText, record.initString.Str());
  Finish(this, grid);
}

bool ModemAdvancedDialog::TransferDataFromWindow() {
  record_.speakerVolume = choices_[0]->GetSelection();
  record_.speakerMode = choices_[1]->GetSelection();
  record_.callWaiting = choices_[2]->GetSelection();
  record_.class2BitOrder = choices_[3]->GetSelection();
  record_.initString.Assign(Value(init_));
  return true;
}

TotalUsageTimeDialog::TotalUsageTimeDialog(wxWindow* parent, bool selected, const std::string& duration)
    : wxDialog(parent, selected ? kTotalUsageSelectedDialog : kTotalUsageAllDialog, "Total Usage Time") {
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  row->Add(new wxStaticText(this, wxID_ANY,
                            selected ? "Total usage time for selected faxes:" : "Total usage time for all faxes:"),
           0, wxRIGHT, 8);
  row->Add(new wxStaticText(this, kText, Text(duration)), 0);
  auto* all = new wxBoxSizer(wxVERTICAL);
  all->Add(row, 0, wxALL, 12);
  all->Add(CreateStdDialogButtonSizer(wxOK), 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 12);
  SetSizerAndFit(all);
  CentreOnParent();
}

}  // namespace korvo::manager
