#include "notifier/app/notifier_frame.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/combobox.h>
#include <wx/icon.h>
#include <wx/image.h>
#include <wx/imagpng.h>
#include <wx/menu.h>
#include <wx/mstream.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/utils.h>

#include "desktop/title_width.h"
#include "notifier/app/notifier_icons.h"
#include "platform/sound.h"

namespace korvo::notifier {

namespace {

wxString Text(const std::string& s) { return wxString::FromUTF8(s); }

// The alert: three tones with short gaps as one stream; the display bell
// where no sound device opens.
void Alert() {
  if (!platform::PlayTones({{800, 300}, {0, 50}, {800, 300}, {0, 50}, {1000, 300}})) wxBell();
}

class AboutDialog : public wxDialog {
 public:
  explicit AboutDialog(wxWindow* parent) : wxDialog(parent, kDlgAbout, "About Korvo Notifier") {
    auto* box = new wxBoxSizer(wxHORIZONTAL);
    box->Add(new wxStaticBitmap(this, wxID_ANY, NotifierIcon(kIconNormal)), 0, wxALL, 12);
    auto* texts = new wxBoxSizer(wxVERTICAL);
    texts->Add(new wxStaticText(this, wxID_ANY, "Korvo Notifier"), 0, wxBOTTOM, 4);
    texts->Add(new wxStaticText(this, wxID_ANY, "Version 1.30"), 0, wxBOTTOM, 12);
    texts->Add(new wxButton(this, wxID_OK, "OK"), 0, wxALIGN_RIGHT);
    box->Add(texts, 1, wxALL, 12);
    SetSizerAndFit(box);
    desktop::WidenForTitle(*this);
    SetEscapeId(wxID_OK);
  }
};

class ConfigureDialog : public wxDialog {
 public:
  ConfigureDialog(wxWindow* parent, const Notifier& model)
      : wxDialog(parent, kDlgConfigure, Text(model.ConfigureTitle())) {
    wxArrayString choices;
    for (const auto& c : Notifier::IntervalChoices()) choices.Add(c);
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->Add(new wxStaticText(this, wxID_ANY, "&Check every:"), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
    interval_ = new wxComboBox(this, kIdInterval, "", wxDefaultPosition, wxSize(90, -1), choices, wxCB_READONLY);
    const int selection = Notifier::IntervalSelection(model.options().interval);
    if (selection >= 0) interval_->SetSelection(selection);
    row->Add(interval_, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
    row->Add(new wxStaticText(this, wxID_ANY, "minutes"), 0, wxALIGN_CENTER_VERTICAL);
    sound_ = new wxCheckBox(this, kIdSound, "&Play a sound");
    sound_->SetValue(model.options().sound);
    auto* box = new wxBoxSizer(wxVERTICAL);
    box->Add(row, 0, wxALL, 12);
    box->Add(sound_, 0, wxLEFT | wxRIGHT | wxBOTTOM, 12);
    box->Add(CreateStdDialogButtonSizer(wxOK | wxCANCEL), 0, wxEXPAND | wxALL, 12);
    SetSizerAndFit(box);
    desktop::WidenForTitle(*this);
  }
  std::string IntervalText() const {
    return interval_->GetSelection() == wxNOT_FOUND ? "" : interval_->GetValue().utf8_string();
  }
  bool Sound() const { return sound_->GetValue(); }

 private:
  wxComboBox* interval_;
  wxCheckBox* sound_;
};

}  // namespace

wxIcon NotifierIcon(int id) {
  if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
  wxMemoryInputStream in = id == kIconAlert ? wxMemoryInputStream(kIcon130Png.data(), kIcon130Png.size())
                                              : wxMemoryInputStream(kIcon129Png.data(), kIcon129Png.size());
  wxImage image(in, wxBITMAP_TYPE_PNG);
  wxIcon icon;
  icon.CopyFromBitmap(wxBitmap(image));
  return icon;
}

MessageDialog::MessageDialog(NotifierFrame* frame, const Notifier& model)
    : wxDialog(frame, kDlgMessage, Text(model.MessageTitle())) {
  icon_ = new wxStaticBitmap(this, kIdMessageIcon, NotifierIcon(kIconNormal));
  line1_ = new wxStaticText(this, kIdLine1, "", wxDefaultPosition, wxSize(360, -1));
  line2_ = new wxStaticText(this, kIdLine2, "", wxDefaultPosition, wxSize(360, -1));
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  row->Add(icon_, 0, wxALL, 12);
  auto* lines = new wxBoxSizer(wxVERTICAL);
  lines->Add(line1_, 0, wxBOTTOM, 6);
  lines->Add(line2_, 0);
  row->Add(lines, 1, wxTOP | wxRIGHT | wxBOTTOM, 12);
  auto* box = new wxBoxSizer(wxVERTICAL);
  box->Add(row, 0, wxEXPAND);
  box->Add(new wxButton(this, wxID_OK, "OK"), 0, wxALIGN_CENTER | wxBOTTOM, 12);
  SetSizerAndFit(box);
  SetEscapeId(wxID_OK);
  SetAffirmativeId(wxID_OK);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Close(); }, wxID_OK);
  Bind(wxEVT_CLOSE_WINDOW, [this, frame](wxCloseEvent&) {
    frame->MessageClosed();
    Destroy();
  });
}

void MessageDialog::Update(const Notifier& model, int icon) {
  icon_->SetBitmap(NotifierIcon(icon));
  line1_->SetLabel(Text(LimitText(model.line1())));
  line2_->SetLabel(Text(LimitText(model.line2())));
}

NotifierTrayIcon::NotifierTrayIcon(NotifierFrame* frame) : frame_(frame) {
  // GTK reports each press of the left button, those of a double click too;
  // the right click comes as the menu's own event and opens it at once.
  Bind(wxEVT_TASKBAR_LEFT_DOWN, [this](wxTaskBarIconEvent&) { OnLeftDown(); });
  click_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
    std::unique_ptr<wxMenu> menu(CreatePopupMenu());
    PopupMenu(menu.get());
  });
}

void NotifierTrayIcon::OnLeftDown() {
  if (click_.IsRunning()) {
    click_.Stop();
    frame_->DoubleClick();
    return;
  }
  const int doubleClick = wxSystemSettings::GetMetric(wxSYS_DCLICK_MSEC);
  click_.StartOnce(doubleClick > 0 ? doubleClick : 400);
}

wxMenu* NotifierTrayIcon::CreatePopupMenu() {
  wxMenu* menu = NotifierFrame::MakeMenu();
  menu->Bind(wxEVT_MENU, [this](wxCommandEvent& e) { frame_->GetEventHandler()->ProcessEvent(e); });
  menu->Bind(wxEVT_MENU_OPEN, [this](wxMenuEvent& e) {
    ++menusOpened_;
    e.Skip();
  });
  return menu;
}

wxMenu* NotifierFrame::MakeMenu() {
  auto* menu = new wxMenu;
  menu->Append(MenuId(kCmdCheckNow), "&Check Now");
  menu->Append(MenuId(kCmdConfigure), "C&onfigure");
  menu->Append(MenuId(kCmdAbout), "&About");
  menu->AppendSeparator();
  menu->Append(MenuId(kCmdExit), "&Exit");
  return menu;
}

NotifierFrame::NotifierFrame(NotifyOptions options, const std::string& dataPath)
    : wxFrame(nullptr, wxID_ANY, "Korvo Notify"), model_(std::move(options), dataPath), timer_(this) {
  SetName("KorvoNotify");
  SetIcon(NotifierIcon(kIconNormal));
  Bind(wxEVT_MENU, &NotifierFrame::OnMenu, this);
  Bind(wxEVT_TIMER, [this](wxTimerEvent&) { Tick(); });
  Bind(wxEVT_ICONIZE, &NotifierFrame::OnIconize, this);
  Bind(wxEVT_CLOSE_WINDOW, &NotifierFrame::OnClose, this);
  if (wxTaskBarIcon::IsAvailable()) {
    tray_ = std::make_unique<NotifierTrayIcon>(this);
    ShowTrayIcon(kIconNormal, "Korvo Notify");
  } else {
    // No tray host: the frame stands in for the icon, minimised.
    Iconize(true);
    Show();
  }
  timer_.Start(kTickMs);
}

NotifierFrame::~NotifierFrame() {
  timer_.Stop();
  if (tray_) tray_->RemoveIcon();
}

void NotifierFrame::ShowTrayIcon(int icon, const std::string& tip) {
  trayIconShown_ = icon;
  if (tray_) tray_->SetIcon(NotifierIcon(icon), Text(tip));
}

void NotifierFrame::Tick() {
  const TickResult r = model_.Tick();
  if (r.beep) Alert();
  if (!r.alert) return;
  ShowTrayIcon(r.trayIcon, model_.Tip());
  SetIcon(NotifierIcon(r.trayIcon));
  SetTitle(Text(model_.line2()));
  if (!message_) {
    message_ = new MessageDialog(this, model_);
    message_->Show();
  }
  message_->Update(model_, r.messageIcon);
  message_->Raise();
}

void NotifierFrame::CheckNow() { ShowMessage(model_.CheckNow()); }

void NotifierFrame::DoubleClick() { ShowMessage(model_.DoubleClick()); }

void NotifierFrame::ShowMessage(int icon) {
  if (!message_) {
    message_ = new MessageDialog(this, model_);
    message_->Show();
  }
  message_->Update(model_, icon);
  message_->Raise();
}

void NotifierFrame::MessageClosed() {
  message_ = nullptr;
  model_.MessageClosed();
}

void NotifierFrame::Configure() {
  if (configure_) {
    configure_->Raise();
    return;
  }
  model_.ConfigureOpened();
  ConfigureDialog dialog(this, model_);
  configure_ = &dialog;
  const int answer = dialog.ShowModal();
  configure_ = nullptr;
  if (answer == wxID_OK) model_.ConfigureOk(dialog.IntervalText(), dialog.Sound());
}

void NotifierFrame::About() {
  if (about_) {
    about_->Raise();
    return;
  }
  AboutDialog dialog(this);
  about_ = &dialog;
  dialog.ShowModal();
  about_ = nullptr;
}

void NotifierFrame::ExitPass() {
  if (!model_.Exit()) {
    // First pass: end the open dialogs, then come back once their loops ended.
    if (configure_ && configure_->IsModal()) configure_->EndModal(wxID_CANCEL);
    if (about_ && about_->IsModal()) about_->EndModal(wxID_CANCEL);
    if (message_) message_->Close();
    CallAfter(&NotifierFrame::ExitPass);
    return;
  }
  timer_.Stop();
  if (tray_) tray_->RemoveIcon();
  Destroy();
}

void NotifierFrame::OnMenu(wxCommandEvent& event) {
  switch (event.GetId() + kMenuIdOffset) {
    case kCmdCheckNow: CheckNow(); break;
    case kCmdConfigure: Configure(); break;
    case kCmdAbout: About(); break;
    case kCmdExit: ExitPass(); break;
    default: event.Skip();
  }
}

void NotifierFrame::OnIconize(wxIconizeEvent& event) {
  // The minimised frame stays minimised; restoring it opens the menu.
  if (event.IsIconized()) {
    minimised_ = true;
    return;
  }
  if (minimised_ && !tray_) {
    minimised_ = false;
    CallAfter([this] {
      Iconize(true);
      std::unique_ptr<wxMenu> menu(MakeMenu());
      PopupMenu(menu.get());
    });
  }
}

void NotifierFrame::OnClose(wxCloseEvent& event) {
  // The window manager's close is Exit.
  if (event.CanVeto()) {
    event.Veto();
    ExitPass();
    return;
  }
  Destroy();
}

}  // namespace korvo::notifier
