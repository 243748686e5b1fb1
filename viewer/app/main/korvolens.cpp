// KorvoLens: korvolens [/First_Page_Only] [FILE]
#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/toplevel.h>

#include "viewer/app/viewer.h"
#include "viewer/fax_image_document.h"

namespace {

// SIGTERM (the Send Fax preview letting the viewer go) and SIGHUP close the
// viewer as its Exit command does.
void CloseOnSignal(int) {
  // A message box still open gives way first.
  for (wxWindow* window : wxTopLevelWindows)
    if (auto* dialog = dynamic_cast<wxDialog*>(window); dialog && dialog->IsModal()) dialog->EndModal(wxID_CANCEL);
  if (wxWindow* top = wxTheApp->GetTopWindow())
    top->Close(true);
  else
    wxTheApp->ExitMainLoop();
}

class ViewerApp : public wxApp {
 public:
  bool OnInit() override {
    SetAppName(korvo::kViewerAppName);
    SetAppDisplayName(korvo::kViewerAppName);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(argv[i].utf8_string());
    viewer_ = std::make_unique<korvo::Viewer>(args);
    SetSignalHandler(SIGTERM, CloseOnSignal);
    SetSignalHandler(SIGHUP, CloseOnSignal);
    return true;
  }
  int OnExit() override {
    viewer_.reset();
    return wxApp::OnExit();
  }

 private:
  std::unique_ptr<korvo::Viewer> viewer_;
};

}  // namespace

wxIMPLEMENT_APP(ViewerApp);
