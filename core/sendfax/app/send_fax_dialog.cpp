#include "core/sendfax/send_fax_dialog.h"

#include <algorithm>
#include <exception>

#include <wx/app.h>
#include <wx/button.h>
#include <wx/display.h>
#include <wx/evtloop.h>
#include <wx/settings.h>
#include <wx/gauge.h>
#include <wx/init.h>
#include <wx/listbox.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include "common/trace.h"
#include "core/sendfax/app/dialogs.h"
#include "desktop/dial_string_validator.h"

namespace korvo::sendfax {
namespace {

wxString Wx(const std::string& text) { return wxString::FromUTF8(text); }

// The print capture runs in a program that may have no toolkit of its own:
// then the library starts one, once, for the rest of the process.
bool EnsureToolkit() {
  if (wxTheApp) return true;
  static int argc = 1;
  static char name[] = "korvocore";
  static char* argv[] = {name, nullptr};
  wxApp::SetInstance(new wxApp);
  if (!wxEntryStart(argc, argv)) return false;
  return wxTheApp->CallOnInit();
}

}  // namespace

SendFaxDialog::SendFaxDialog(SendFaxJob& job)
    : wxDialog(nullptr, wxID_ANY, "Send Fax", wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER) {
  auto* grid = new wxFlexGridSizer(2, wxSize(8, 6));
  grid->AddGrowableCol(1);
  grid->Add(new wxStaticText(this, wxID_ANY, "Name:"), 0, wxALIGN_CENTER_VERTICAL);
  name_ = new wxTextCtrl(this, id::kName, "", wxDefaultPosition, wxSize(260, -1));
  grid->Add(name_, 1, wxEXPAND);
  grid->Add(new wxStaticText(this, wxID_ANY, "Fax Number:"), 0, wxALIGN_CENTER_VERTICAL);
  number_ = new wxTextCtrl(this, id::kNumber, "", wxDefaultPosition, wxSize(260, -1));
  number_->SetValidator(desktop::DialStringValidator());
  grid->Add(number_, 1, wxEXPAND);

  list_ = new wxListBox(this, id::kRecipients, wxDefaultPosition, wxSize(260, 120), 0, nullptr, wxLB_EXTENDED);
  addRemove_ = new wxButton(this, id::kAddRemove, SendFaxModel::kAdd);
  addressBook_ = new wxButton(this, id::kAddressBook, "&Address Book");
  options_ = new wxButton(this, id::kOptions, "&Options");
  auto* side = new wxBoxSizer(wxVERTICAL);
  for (wxButton* b : {addRemove_, addressBook_, options_}) side->Add(b, 0, wxEXPAND | wxBOTTOM, 6);
  auto* middle = new wxBoxSizer(wxHORIZONTAL);
  middle->Add(list_, 1, wxEXPAND | wxRIGHT, 8);
  middle->Add(side, 0);

  status_ = new wxStaticText(this, id::kStatus, "Enter fax recipient", wxDefaultPosition, wxDefaultSize,
                             wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_END);
  progress_ = new wxGauge(this, id::kProgress, 100, wxDefaultPosition, wxSize(-1, 14));
  send_ = new wxButton(this, id::kSend, SendFaxModel::kSendFax);
  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  buttons->AddStretchSpacer();
  buttons->Add(send_, 0, wxRIGHT, 8);
  cancel_ = new wxButton(this, wxID_CANCEL, "Cancel");
  buttons->Add(cancel_);

  auto* top = new wxBoxSizer(wxVERTICAL);
  top->Add(grid, 0, wxEXPAND | wxALL, 10);
  top->Add(new wxStaticText(this, wxID_ANY, "Other &Recipients:"), 0, wxLEFT | wxRIGHT, 10);
  top->Add(middle, 1, wxEXPAND | wxALL, 10);
  top->Add(status_, 0, wxEXPAND | wxLEFT | wxRIGHT, 10);
  top->Add(progress_, 0, wxEXPAND | wxALL, 10);
  top->Add(buttons, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 10);
  SetSizerAndFit(top);
  SetMinSize(GetSize());
  CentreOnScreen();

  model_ = std::make_unique<SendFaxModel>(job, static_cast<SendFaxHost&>(*this), desktop::Prompts());

  name_->Bind(wxEVT_TEXT, [this](wxCommandEvent&) {
    if (syncing_) return;
    model_->SetName(name_->GetValue().utf8_string());
    Sync();
  });
  number_->Bind(wxEVT_TEXT, [this](wxCommandEvent&) {
    if (syncing_) return;
    model_->SetNumber(number_->GetValue().utf8_string());
    Sync();
  });
  list_->Bind(wxEVT_LISTBOX, [this](wxCommandEvent&) {
    if (syncing_) return;
    wxArrayInt rows;
    list_->GetSelections(rows);
    model_->SetSelection(std::vector<int>(rows.begin(), rows.end()));
    Sync();
  });
  auto on = [this](int button, void (SendFaxModel::*action)()) {
    Bind(wxEVT_BUTTON, [this, action](wxCommandEvent&) {
      ((*model_).*action)();
      Sync();
    }, button);
  };
  on(id::kAddRemove, &SendFaxModel::AddOrRemove);
  on(id::kOptions, &SendFaxModel::Options);
  on(id::kAddressBook, &SendFaxModel::AddressBook);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
    wxBusyCursor wait;
    busy_ = true;
    model_->Send();
    busy_ = false;
    Sync();
  }, id::kSend);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnCancel(); }, wxID_CANCEL);
  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { OnCancel(); });
  Sync();
}

void SendFaxDialog::OnCancel() {
  model_->Cancel();
  Sync();
}

void SendFaxDialog::Sync() {
  syncing_ = true;
  SendFaxModel& m = *model_;
  if (name_->GetValue().utf8_string() != m.name()) name_->ChangeValue(Wx(m.name()));
  if (number_->GetValue().utf8_string() != m.number()) number_->ChangeValue(Wx(m.number()));
  bool same = list_->GetCount() == m.entries().size();
  for (unsigned i = 0; same && i < list_->GetCount(); ++i) same = list_->GetString(i).utf8_string() == m.entries()[i].text;
  if (!same) {
    list_->Clear();
    for (const auto& e : m.entries()) list_->Append(Wx(e.text));
  }
  for (unsigned i = 0; i < list_->GetCount(); ++i) {
    const bool selected = std::find(m.selection().begin(), m.selection().end(), static_cast<int>(i)) !=
                          m.selection().end();
    if (list_->IsSelected(static_cast<int>(i)) != selected) list_->SetSelection(static_cast<int>(i), selected);
  }
  if (!same) FitListToEntries(list_, this);
  ShowEnabling();
  syncing_ = false;
  if (m.end() != SendFaxModel::End::None && IsModal()) EndModal(m.end() == SendFaxModel::End::Ok ? wxID_OK : wxID_CANCEL);
}

void SendFaxDialog::ShowEnabling() {
  const SendFaxModel& m = *model_;
  send_->SetLabel(Wx(m.sendLabel()));
  send_->Enable(m.sendEnabled());
  addRemove_->SetLabel(Wx(m.addRemoveLabel()));
  addRemove_->Enable(m.addRemoveEnabled());
  name_->Enable(m.nameEnabled());
  number_->Enable(m.numberEnabled());
  options_->Enable(m.optionsEnabled());
  addressBook_->Enable(m.addressBookEnabled());
  list_->Enable(m.listEnabled());
  cancel_->Enable(!busy_);
}

void SendFaxDialog::StatusChanged(const std::string& text) {
  status_->SetLabel(Wx(text));
  DebugPrint("tick...\n");
  progress_->SetValue(progress_->GetValue() >= 100 ? 10 : progress_->GetValue() + 10);
  // The work runs on this thread: what cannot be used is shown disabled, and
  // the window is drawn at each step (paint and size events only: no click
  // or key reaches the dialog meanwhile).
  ShowEnabling();
  Update();
  if (wxEventLoopBase* loop = wxEventLoopBase::GetActive()) loop->YieldFor(wxEVT_CATEGORY_UI);
}

void FitListToEntries(wxListBox* list, wxDialog* dialog) {
  int widest = 0;
  for (unsigned i = 0; i < list->GetCount(); ++i) widest = std::max(widest, list->GetTextExtent(list->GetString(i)).x);
  // Room for the row's padding and a vertical scroll bar.
  const int wanted = widest + 2 * list->GetCharWidth() + wxSystemSettings::GetMetric(wxSYS_VSCROLL_X, list);
  const int grow = wanted - list->GetClientSize().x;
  if (grow <= 0) return;
  const int display = wxDisplay::GetFromWindow(dialog);
  const int screen = wxDisplay(display == wxNOT_FOUND ? 0u : static_cast<unsigned>(display)).GetClientArea().width;
  const wxSize now = dialog->GetSize();
  const int width = std::min(now.x + grow, screen);
  dialog->SetMinSize(wxSize(std::min(dialog->GetMinSize().x + grow, screen), dialog->GetMinSize().y));
  dialog->SetSize(wxSize(width, now.y));
  dialog->Layout();
}

int SendFaxDialog::RunChild(wxDialog& dialog) {
  child_ = &dialog;
  const int answer = dialog.ShowModal();
  child_ = nullptr;
  return answer;
}

bool SendFaxDialog::RunOptions(SendFaxJob& job) {
  SendFaxOptionsDialog dialog(this, job, SystemClock());
  return RunChild(dialog) == wxID_OK;
}

bool SendFaxDialog::RunSendFaxTo(SendFaxJob& job) {
  SendFaxToDialog dialog(this, job);
  return RunChild(dialog) == wxID_OK;
}

void SendFaxDialog::RunStatus(SendFaxJob& job, bool success) {
  SendFaxStatusDialog dialog(this, job, success);
  RunChild(dialog);
}

DialogEnd RunSendFaxDialog(const std::string& imagePath, const std::string& headerPath) {
  if (!EnsureToolkit()) {
    DebugPrint("RunSendFaxDialog: no display for the Send Fax dialog\n");
    return DialogEnd::kNotShown;
  }
  SendFaxJob job;
  job.faxImagePath = imagePath;
  job.headerPath = headerPath;
  try {
    SendFaxDialog dialog(job);
    return dialog.ShowModal() == wxID_OK ? DialogEnd::kOk : DialogEnd::kCancelled;
  } catch (const std::exception& e) {
    desktop::Prompts().Message(nullptr, e.what(), "Send Fax", desktop::Buttons::Ok, desktop::Icon::Error);
    DebugPrint("CException in SendFaxDlg()\n");
    return DialogEnd::kCancelled;
  }
}

bool ReportNoPages() {
  if (!EnsureToolkit()) {
    DebugPrint("ReportNoPages: no display\n");
    return false;
  }
  desktop::Prompts().Message(nullptr, "The printed document has no pages: there is nothing to fax.", "Send Fax",
                             desktop::Buttons::Ok, desktop::Icon::Warning);
  return true;
}

}  // namespace korvo::sendfax
