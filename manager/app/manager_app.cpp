#include "manager/app/manager_app.h"

#include <filesystem>

#include <wx/app.h>
#include <wx/html/helpctrl.h>

#include "manager/app/main_frame.h"
#include "manager/manager_ids.h"
#include "manager/startup.h"
#include "platform/process.h"

namespace korvo::manager {

ManagerApp::ManagerApp(std::function<uint32_t()> clock) : clock_(clock ? std::move(clock) : TickCount) {}

ManagerApp::~ManagerApp() {
  splashTimer_.Stop();
  if (wxTheApp) wxTheApp->Unbind(wxEVT_IDLE, &ManagerApp::HandleIdle, this);
  if (help_) help_->Quit();
  // The frame's views belong to the document: the frame goes first.
  delete frame_;
}

void ManagerApp::HandleIdle(wxIdleEvent& e) {
  // No more idle time is asked for while the splash waits: that would spin
  // the loop for its whole time. The splash timer wakes the loop once.
  OnIdle();
  e.Skip();
}

std::string ManagerApp::HelpBook() {
  return (std::filesystem::path(platform::ModuleFileName()).parent_path() / "help" / "korvodesk.hhp").string();
}

bool ManagerApp::LoadHelp() {
  if (!help_) help_ = std::make_unique<wxHtmlHelpController>(wxHF_DEFAULT_STYLE);
  if (!helpLoaded_) helpLoaded_ = help_->AddBook(wxFileName(wxString::FromUTF8(helpBook_)));
  return helpLoaded_;
}

bool ManagerApp::InitInstance(const std::vector<std::string>& arguments, ServiceControl& service) {
  doc_ = std::make_unique<ManagerDoc>();
  MainFrame::App app;
  app.onCommand = [this](int id) { return OnCommand(id); };
  frame_ = new MainFrame(*doc_, service, app);
  frame_->Bind(wxEVT_DESTROY, [this](wxWindowDestroyEvent& e) {
    if (e.GetEventObject() == frame_) frame_ = nullptr;
    e.Skip();
  });
  frame_->Show();
  wxTheApp->SetTopWindow(frame_);

  splash_ = new AboutDialog(frame_, wxSTAY_ON_TOP);
  splash_->Bind(wxEVT_DESTROY, [this](wxWindowDestroyEvent& e) {
    if (e.GetEventObject() == splash_) splash_ = nullptr;
    e.Skip();
  });
  splash_->Show();
  wxTheApp->Bind(wxEVT_IDLE, &ManagerApp::HandleIdle, this);
  splashShownAt_ = clock_();
  // The first idle moment after the splash's time: the timer wakes the
  // loop once, just past it.
  splashTimer_.Bind(wxEVT_TIMER, [](wxTimerEvent&) { wxWakeUpIdle(); });
  splashTimer_.StartOnce(static_cast<int>(SplashTime::kSplashMs) + 1);

  if (IsAfterInstall(arguments) && LoadHelp()) help_->Display(kHelpAfterInstall);
  return true;
}

bool ManagerApp::OnIdle() {
  if (!splash_) return false;
  if (!SplashTime(splashShownAt_).Expired(clock_())) return true;
  AboutDialog* splash = splash_;
  splash_ = nullptr;
  splash->Destroy();
  if (frame_) frame_->Update();
  return false;
}

bool ManagerApp::OnCommand(int id) {
  switch (id) {
    case kCmdAbout: {
      AboutDialog about(frame_);
      about.ShowModal();
      return true;
    }
    case kCmdHelpTopics:
    case kCmdHelpIndex:
    case kCmdHelp:
    case kCmdContextHelp:
      if (LoadHelp()) help_->DisplayContents();
      return true;
    default:
      return false;
  }
}

}  // namespace korvo::manager
