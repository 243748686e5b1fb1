#include "core/setup/app/wizard_sheet.h"

#include <algorithm>

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/gauge.h>
#include <wx/mstream.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "core/setup/app/wizard_bitmap.h"
#include "desktop/dial_string_validator.h"

namespace korvo::setup {

namespace {

wxString Wx(const std::string& text) { return wxString::FromUTF8(text); }
std::string Utf8(const wxString& text) { return text.utf8_string(); }

constexpr int kPageWidth = 380;

wxBitmap Picture() {
  if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
  wxMemoryInputStream png(kBitmap147Png.data(), kBitmap147Png.size());
  wxImage image(png, wxBITMAP_TYPE_PNG);
  return image.IsOk() ? wxBitmap(image) : wxNullBitmap;
}

// Every page: its caption as a heading, then its controls.
class BasicPage : public SheetPage {
 public:
  BasicPage(WizardSheet* sheet, Page page) : SheetPage(sheet, page) {
    sizer_ = new wxBoxSizer(wxVERTICAL);
    auto* heading = new wxStaticText(this, wxID_ANY, InfoOf(page).caption);
    heading->SetFont(heading->GetFont().Bold().Larger());
    sizer_->Add(heading, 0, wxBOTTOM, 12);
    SetSizer(sizer_);
  }

 protected:
  wxStaticText* Text(int id, const std::string& text) {
    auto* label = new wxStaticText(this, id, Wx(text));
    label->Wrap(kPageWidth);
    sizer_->Add(label, 0, wxBOTTOM | wxEXPAND, 10);
    return label;
  }
  wxTextCtrl* Edit(int id, const std::string& label, size_t limit) {
    sizer_->Add(new wxStaticText(this, wxID_ANY, Wx(label)), 0, wxBOTTOM, 3);
    auto* edit = new wxTextCtrl(this, id, "", wxDefaultPosition, wxSize(kPageWidth, -1));
    edit->SetMaxLength(static_cast<unsigned long>(limit));
    sizer_->Add(edit, 0, wxBOTTOM | wxEXPAND, 10);
    return edit;
  }
  wxBoxSizer* sizer_;
};

class WelcomePage : public BasicPage {
 public:
  WelcomePage(WizardSheet* sheet) : BasicPage(sheet, Page::Welcome) {
    text_ = Text(id::kWelcomeText, kWelcomeText);
  }
  void ToWindow() override {
    text_->SetLabel(Wx(model().welcome.substr(0, 512)));
    text_->Wrap(kPageWidth);
  }

 private:
  wxStaticText* text_;
};

class ReadmePage : public BasicPage {
 public:
  ReadmePage(WizardSheet* sheet) : BasicPage(sheet, Page::Readme) {
    auto* edit = new wxTextCtrl(this, id::kReadme, Wx(model().readme), wxDefaultPosition, wxDefaultSize,
                                wxTE_MULTILINE | wxTE_READONLY);
    edit->SetFont(wxFontInfo(8).Family(wxFONTFAMILY_TELETYPE));
    // Wide enough for the read-me's lines of up to 76 characters.
    edit->SetMinSize(wxSize(std::max(kPageWidth, edit->GetTextExtent(wxString('M', 76)).x + 40), 260));
    edit->SetInsertionPoint(0);
    edit->ShowPosition(0);
    sizer_->Add(edit, 1, wxEXPAND);
  }
};

class OptionsPage : public BasicPage {
 public:
  OptionsPage(WizardSheet* sheet) : BasicPage(sheet, Page::Options) {
    server_ = new wxRadioButton(this, id::kServerOption, Wx(kServerOption), wxDefaultPosition, wxDefaultSize,
                                wxRB_GROUP);
    sizer_->Add(server_, 0, wxBOTTOM, 2);
    Text(id::kServerOptionText, "The fax server with its modems, and the programs of this workstation.");
    workstation_ = new wxRadioButton(this, id::kWorkstationOption, Wx(kWorkstationOption));
    sizer_->Add(workstation_, 0, wxBOTTOM, 2);
    Text(wxID_ANY, "The programs of this workstation, using a fax server on the network.");
    root_ = Edit(id::kRootDirectory, "Korvo root directory:", kRootLimit);
  }
  void ToWindow() override {
    server_->SetValue(model().serverChoice);
    workstation_->SetValue(!model().serverChoice);
    root_->ChangeValue(Wx(model().rootDirectory));
  }
  void FromWindow() override {
    model().serverChoice = server_->GetValue();
    model().workstationChoice = workstation_->GetValue();
    model().rootDirectory = Utf8(root_->GetValue());
  }

 private:
  wxRadioButton* server_;
  wxRadioButton* workstation_;
  wxTextCtrl* root_;
};

class MainInfoPage : public BasicPage {
 public:
  MainInfoPage(WizardSheet* sheet) : BasicPage(sheet, Page::MainInfo) {
    contact_ = Edit(id::kContactPerson, "Contact person:", kMainInfoLimit);
    // The numbers are shown to people, never dialed: no filter ("+385 ..."
    // stays as typed).
    fax_ = Edit(id::kMainFaxNumber, "Main fax number:", kMainInfoLimit);
    phone_ = Edit(id::kMainPhoneNumber, "Main phone number:", kMainInfoLimit);
    organization_ = Edit(id::kOrganization, "Organization:", kOrganizationLimit);
  }
  void ToWindow() override {
    contact_->ChangeValue(Wx(model().contactPerson));
    fax_->ChangeValue(Wx(model().mainFaxNumber));
    phone_->ChangeValue(Wx(model().mainPhoneNumber));
    organization_->ChangeValue(Wx(model().organization));
  }
  void FromWindow() override {
    model().contactPerson = Utf8(contact_->GetValue());
    model().mainFaxNumber = Utf8(fax_->GetValue());
    model().mainPhoneNumber = Utf8(phone_->GetValue());
    model().organization = Utf8(organization_->GetValue());
  }

 private:
  wxTextCtrl *contact_, *fax_, *phone_, *organization_;
};

class WorkStationPage : public BasicPage {
 public:
  WorkStationPage(WizardSheet* sheet) : BasicPage(sheet, Page::WorkStation) {
    Text(wxID_ANY, "The Korvo server this workstation sends its faxes through.");
    server_ = Edit(id::kDefaultServer, "Default Korvo Server:", kServerNameLimit);
  }
  void ToWindow() override { server_->ChangeValue(Wx(model().defaultServer)); }
  void FromWindow() override { model().defaultServer = Utf8(server_->GetValue()); }

 private:
  wxTextCtrl* server_;
};

class DesktopPage : public BasicPage {
 public:
  DesktopPage(WizardSheet* sheet) : BasicPage(sheet, Page::Desktop) {
    manager_ = new wxCheckBox(this, id::kManagerInStartup, Wx(kManagerCheck));
    sizer_->Add(manager_, 0, wxBOTTOM, 8);
    notifier_ = new wxCheckBox(this, id::kNotifierInStartup, Wx(kNotifierCheck));
    sizer_->Add(notifier_, 0, wxBOTTOM, 8);
  }
  void ToWindow() override {
    manager_->SetValue(model().managerInStartup);
    notifier_->SetValue(model().notifierInStartup);
  }
  void FromWindow() override {
    model().managerInStartup = manager_->GetValue();
    model().notifierInStartup = notifier_->GetValue();
  }

 private:
  wxCheckBox *manager_, *notifier_;
};

class FinalPage : public BasicPage {
 public:
  FinalPage(WizardSheet* sheet) : BasicPage(sheet, Page::Final) {
    summary_ = new wxTextCtrl(this, id::kSummary, "", wxDefaultPosition, wxSize(kPageWidth, 260),
                              wxTE_MULTILINE | wxTE_READONLY);
    sizer_->Add(summary_, 1, wxEXPAND);
  }
  void ToWindow() override { summary_->ChangeValue(Wx(model().summary)); }

 private:
  wxTextCtrl* summary_;
};

class ProgressView : public BasicPage {
 public:
  ProgressView(WizardSheet* sheet, Page page) : BasicPage(sheet, page) {
    if (page == Page::RemoveFinal) Text(wxID_ANY, kRemoveFinalText);
    line_ = new wxStaticText(this, id::kProgressText, "", wxDefaultPosition, wxSize(kPageWidth, -1),
                             wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_END);
    sizer_->Add(line_, 0, wxBOTTOM | wxEXPAND, 10);
    bar_ = new wxGauge(this, id::kProgressBar, 100, wxDefaultPosition, wxSize(kPageWidth, -1));
    sizer_->Add(bar_, 0, wxEXPAND);
  }
  void SetProgress(const std::string& line) override {
    line_->SetLabel(Wx(SetupWizardModel::ProgressLine(line)));
  }
  void StepProgress() override { bar_->SetValue(std::min(bar_->GetRange(), bar_->GetValue() + kProgressStep)); }

 private:
  wxStaticText* line_;
  wxGauge* bar_;
};

class TextsPage : public BasicPage {
 public:
  TextsPage(WizardSheet* sheet, Page page, const char* const* texts) : BasicPage(sheet, page) {
    Text(wxID_ANY, texts[0]);
    Text(wxID_ANY, texts[1]);
  }
};

class EmptyPage : public BasicPage {
 public:
  EmptyPage(WizardSheet* sheet, Page page) : BasicPage(sheet, page) {}
};

bool HasNoBack(Page page) {
  switch (page) {
    case Page::Progress:
    case Page::Done:
    case Page::RemoveFinal:
    case Page::RemoveDone:
      return true;
    default:
      return false;
  }
}

}  // namespace

SheetPage::SheetPage(WizardSheet* sheet, Page page) : wxWizardPage(sheet), sheet_(sheet), page_(page) {}

SetupWizardModel& SheetPage::model() { return sheet_->model(); }

wxWizardPage* SheetPage::GetPrev() const {
  if (HasNoBack(page_)) return nullptr;
  const auto prev = sheet_->model().Previous(page_);
  return prev ? sheet_->PageOf(*prev) : nullptr;
}

wxWizardPage* SheetPage::GetNext() const {
  const auto next = sheet_->model().Next(page_);
  return next ? sheet_->PageOf(*next) : nullptr;
}

WizardSheet::WizardSheet(SetupWizardModel& model, InstallEngine* engine)
    : wxWizard(nullptr, kSheetId, "Korvo Setup Wizard", Picture()), model_(model), engine_(engine) {
  model_.SetOwner(this);
  for (Page page : PagesOf(model_.mode())) {
    SheetPage* view = nullptr;
    switch (page) {
      case Page::Welcome: view = new WelcomePage(this); break;
      case Page::Readme: view = new ReadmePage(this); break;
      case Page::Options: view = new OptionsPage(this); break;
      case Page::MainInfo: view = new MainInfoPage(this); break;
      case Page::WorkStation: view = new WorkStationPage(this); break;
      case Page::Desktop: view = new DesktopPage(this); break;
      case Page::Final: view = new FinalPage(this); break;
      case Page::Progress:
      case Page::RemoveFinal: view = new ProgressView(this, page); break;
      case Page::Done: view = new TextsPage(this, page, kDoneTexts); break;
      case Page::RemoveWelcome: view = new TextsPage(this, page, kRemoveWelcomeTexts); break;
      case Page::RemoveDone: view = new TextsPage(this, page, model_.RemoveDoneTexts()); break;
      case Page::ServiceStartup: view = new EmptyPage(this, page); break;
    }
    pages_[page] = view;
    GetPageAreaSizer()->Add(view);
  }
  Bind(wxEVT_WIZARD_BEFORE_PAGE_CHANGED, &WizardSheet::OnChanging, this);
  Bind(wxEVT_WIZARD_PAGE_CHANGED, &WizardSheet::OnChanged, this);
  Bind(wxEVT_WIZARD_CANCEL, &WizardSheet::OnCancel, this);
}

WizardSheet::~WizardSheet() { model_.SetOwner(nullptr); }

SheetPage* WizardSheet::PageOf(Page page) const {
  auto it = pages_.find(page);
  return it == pages_.end() ? nullptr : it->second;
}

SheetPage* WizardSheet::ProgressPage() const {
  return PageOf(model_.mode() == WizardMode::Install ? Page::Progress : Page::RemoveFinal);
}

void WizardSheet::OnChanging(wxWizardEvent& event) {
  auto* page = static_cast<SheetPage*>(event.GetPage());
  if (!page) return;
  page->FromWindow();
  if (!model_.Leave(page->page(), event.GetDirection())) {
    event.Veto();
    page->ToWindow();
  }
}

void WizardSheet::OnChanged(wxWizardEvent& event) {
  auto* page = static_cast<SheetPage*>(event.GetPage());
  if (!page) return;
  const Page which = page->page();
  SetTitle(InfoOf(which).caption);
  if (which == Page::Welcome) {
    // Its network check may show a box: once the sheet is on the screen.
    CallAfter([this, page] {
      model_.Enter(Page::Welcome);
      page->ToWindow();
    });
  } else {
    model_.Enter(which);
    page->ToWindow();
  }
  switch (which) {
    case Page::Progress:
    case Page::RemoveFinal:
      NextButton()->SetLabel("&Finish");
      NextButton()->Enable(false);
      BackButton()->Enable(false);
      StartWorker();
      break;
    case Page::Done:
    case Page::RemoveDone:
      NextButton()->SetLabel("Ok");
      NextButton()->Enable(true);
      BackButton()->Enable(false);
      break;
    default:
      break;
  }
  Layout();
  // A page shown from a pressed button of ours (the engine's end) is not
  // drawn by GTK on its own.
  Refresh();
}

void WizardSheet::OnCancel(wxWizardEvent& event) {
  auto* page = static_cast<SheetPage*>(event.GetPage());
  if (!page || !CancelAsks(page->page())) return;
  if (!ConfirmCancel()) event.Veto();
}

void WizardSheet::ProgressText(const std::string& line) {
  if (SheetPage* page = ProgressPage()) page->SetProgress(line);
}

void WizardSheet::ProgressStep() {
  if (SheetPage* page = ProgressPage()) page->StepProgress();
}

void WizardSheet::Finished(int result) {
  // Pressed once the worker's message has been answered.
  const bool success = result == 1;
  CallAfter([this, success] {
    if (success) {
      NextButton()->Enable(true);
      Press(NextButton());
    } else {
      Press(CancelButton());
    }
  });
}

void WizardSheet::Press(wxWindow* button) {
  wxCommandEvent click(wxEVT_BUTTON, button->GetId());
  click.SetEventObject(button);
  button->GetEventHandler()->ProcessEvent(click);
}

}  // namespace korvo::setup
