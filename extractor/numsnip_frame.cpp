#include "extractor/numsnip_frame.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "desktop/prompt.h"

namespace korvo::numsnip {

NumsnipFrame::NumsnipFrame()
    : wxFrame(nullptr, wxID_ANY, kCaption, wxDefaultPosition, wxDefaultSize, wxDEFAULT_FRAME_STYLE, "frmNumsnip") {
  auto* panel = new wxPanel(this);
  auto named = [](wxWindow* w, const char* name) {
    w->SetName(name);
    return w;
  };
  auto* files = new wxFlexGridSizer(3, wxSize(6, 6));
  files->AddGrowableCol(1);
  text1_ = new wxTextCtrl(panel, wxID_ANY, "", wxDefaultPosition, wxSize(320, -1), 0, wxDefaultValidator, "Text1");
  text2_ = new wxTextCtrl(panel, wxID_ANY, "", wxDefaultPosition, wxSize(320, -1), 0, wxDefaultValidator, "Text2");
  auto* command1 = new wxButton(panel, wxID_ANY, "Browse...", wxDefaultPosition, wxDefaultSize, 0, wxDefaultValidator,
                                "Command1");
  auto* command2 = new wxButton(panel, wxID_ANY, "Browse...", wxDefaultPosition, wxDefaultSize, 0, wxDefaultValidator,
                                "Command2");
  files->Add(named(new wxStaticText(panel, wxID_ANY, "Input:"), "Label1"), 0, wxALIGN_CENTER_VERTICAL);
  files->Add(text1_, 1, wxEXPAND);
  files->Add(command1);
  files->Add(named(new wxStaticText(panel, wxID_ANY, "Output:"), "Label2"), 0, wxALIGN_CENTER_VERTICAL);
  files->Add(text2_, 1, wxEXPAND);
  files->Add(command2);

  check1_ = new wxCheckBox(panel, wxID_ANY, "Assume all numbers are fax numbers", wxDefaultPosition, wxDefaultSize, 0,
                           wxDefaultValidator, "Check1");
  check2_ = new wxCheckBox(panel, wxID_ANY, "Ignore numbers without area codes", wxDefaultPosition, wxDefaultSize, 0,
                           wxDefaultValidator, "Check2");
  // Sorting by state has nothing behind it: shown, but never offered.
  auto* check3 = new wxCheckBox(panel, wxID_ANY, "Sort numbers by state", wxDefaultPosition, wxDefaultSize, 0,
                                wxDefaultValidator, "Check3");
  check3->Disable();
  command3_ = new wxButton(panel, wxID_ANY, "Extract", wxDefaultPosition, wxDefaultSize, 0, wxDefaultValidator,
                           "Command3");
  rchFile_ = new wxTextCtrl(panel, wxID_ANY, "", wxDefaultPosition, wxSize(-1, 200),
                            wxTE_MULTILINE | wxTE_READONLY | wxTE_DONTWRAP, wxDefaultValidator, "rchFile");
  label3_ = new wxStaticText(panel, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, wxST_ELLIPSIZE_END, "Label3");

  auto* checks = new wxBoxSizer(wxVERTICAL);
  checks->Add(check1_, 0, wxBOTTOM, 4);
  checks->Add(check2_, 0, wxBOTTOM, 4);
  checks->Add(check3);
  auto* options = new wxBoxSizer(wxHORIZONTAL);
  options->Add(checks, 1, wxEXPAND);
  options->Add(command3_, 0, wxALIGN_BOTTOM | wxLEFT, 12);

  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(files, 0, wxEXPAND | wxALL, 10);
  sizer->Add(options, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 10);
  sizer->Add(rchFile_, 1, wxEXPAND | wxLEFT | wxRIGHT, 10);
  sizer->Add(label3_, 0, wxEXPAND | wxALL, 10);
  panel->SetSizer(sizer);
  sizer->SetSizeHints(this);

  command3_->Disable();
  text1_->Bind(wxEVT_TEXT, [this](wxCommandEvent&) { OnBoxChanged(text1_); });
  text2_->Bind(wxEVT_TEXT, [this](wxCommandEvent&) { OnBoxChanged(text2_); });
  command1->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnBrowse(text1_, false); });
  command2->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnBrowse(text2_, true); });
  command3_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnExtract(); });
  Bind(wxEVT_CLOSE_WINDOW, &NumsnipFrame::OnClose, this);
}

NumsnipFrame::~NumsnipFrame() {
  job_.Stop();
  job_.Wait();
}

void NumsnipFrame::UpdateExtractButton() { command3_->Enable(form_.ExtractEnabled()); }

void NumsnipFrame::OnBoxChanged(wxTextCtrl* box) {
  form_.BoxChanged(box->GetValue().utf8_string());
  UpdateExtractButton();
}

void NumsnipFrame::OnBrowse(wxTextCtrl* box, bool save) {
  desktop::FileRequest request;
  request.save = save;
  request.caption = save ? "Output" : "Input";
  request.wildcard = "Text files (*.txt)|*.txt|All files (*)|*";
  // Cancel leaves the box as it was.
  if (auto path = desktop::Prompts().ChooseFile(this, request)) box->SetValue(wxString::FromUTF8(*path));
}

void NumsnipFrame::OnExtract() {
  if (!form_.ExtractEnabled()) return;
  ExtractOptions options;
  options.input = text1_->GetValue().utf8_string();
  options.output = text2_->GetValue().utf8_string();
  options.allNumbersAreFax = check1_->GetValue();
  options.areaCodesOnly = check2_->GetValue();
  rchFile_->Clear();
  form_.SetRunning(true);
  UpdateExtractButton();
  job_.Start(
      std::move(options), [this](const std::string& number, size_t) { OnFound(number); },
      [this](const ExtractResult& result) { CallAfter([this, result] { OnDone(result); }); });
}

void NumsnipFrame::OnFound(const std::string& number) {
  {
    std::lock_guard<std::mutex> hold(progressLock_);
    progressNumber_ = number;
  }
  if (!progressPosted_.exchange(true)) CallAfter([this] { ShowProgress(); });
}

void NumsnipFrame::ShowProgress() {
  progressPosted_ = false;
  std::string number;
  {
    std::lock_guard<std::mutex> hold(progressLock_);
    number = progressNumber_;
  }
  label3_->SetLabel(wxString::FromUTF8(number));
}

void NumsnipFrame::OnDone(const ExtractResult& result) {
  job_.Wait();
  form_.SetRunning(false);
  if (closing_) {
    Destroy();
    return;
  }
  UpdateExtractButton();
  wxString text;
  for (const auto& number : result.numbers) text << wxString::FromUTF8(number) << "\n";
  rchFile_->ChangeValue(text);
  if (result.ok)
    label3_->SetLabel(ProgressText(result.numbers.size()));
  else
    desktop::Prompts().Message(this, kErrorText, kCaption, desktop::Buttons::Ok, desktop::Icon::Error);
}

void NumsnipFrame::OnClose(wxCloseEvent&) {
  if (!form_.Running()) {
    Destroy();
    return;
  }
  // The run ends at its next line and writes nothing; the window goes then.
  closing_ = true;
  job_.Stop();
  Hide();
}

}  // namespace korvo::numsnip
