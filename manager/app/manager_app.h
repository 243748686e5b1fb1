// KorvoDesk's application: the document and the main frame, the splash
// (About dialog 100) until the first idle moment after 2500 ms, the help book,
// About, and the help at "After Installation" when setup started the program.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <wx/timer.h>

#include "manager/manager_doc.h"
#include "manager/service_control.h"

class wxHtmlHelpController;
class wxIdleEvent;
class wxWindow;

namespace korvo::manager {

class AboutDialog;
class MainFrame;

class ManagerApp {
 public:
  // The clock of the splash: the tick count, or a test's.
  explicit ManagerApp(std::function<uint32_t()> clock = nullptr);
  ~ManagerApp();
  ManagerApp(const ManagerApp&) = delete;
  ManagerApp& operator=(const ManagerApp&) = delete;

  // Start-up with the program's arguments (argv[1] on). False when no main
  // window could be made.
  bool InitInstance(const std::vector<std::string>& arguments, ServiceControl& service);
  // Once the splash's time is over, closes it; true while it still waits.
  bool OnIdle();
  bool OnCommand(int id);

  MainFrame* frame() { return frame_; }
  ManagerDoc* document() { return doc_.get(); }
  AboutDialog* splash() { return splash_; }
  wxHtmlHelpController* help() { return help_.get(); }

  // The help book shipped beside the program (help/korvodesk.hhp).
  static std::string HelpBook();
  void SetHelpBook(std::string path) { helpBook_ = std::move(path); }

 private:
  bool LoadHelp();
  void HandleIdle(wxIdleEvent& e);

  std::function<uint32_t()> clock_;
  std::unique_ptr<ManagerDoc> doc_;
  MainFrame* frame_ = nullptr;
  AboutDialog* splash_ = nullptr;
  uint32_t splashShownAt_ = 0;
  wxTimer splashTimer_;
  std::unique_ptr<wxHtmlHelpController> help_;
  bool helpLoaded_ = false;
  std::string helpBook_ = HelpBook();
};

}  // namespace korvo::manager
