// KorvoLens: korvolens [/First_Page_Only] [FILE]
#include <memory>
#include <string>
#include <vector>

#include <wx/app.h>

#include "desktop/session_end.h"
#include "viewer/app/viewer.h"
#include "viewer/fax_image_document.h"

namespace {

class ViewerApp : public wxApp {
 public:
  bool OnInit() override {
    SetAppName(korvo::kViewerAppName);
    SetAppDisplayName(korvo::kViewerAppName);
    // The Send Fax preview ends the viewer with SIGTERM, also while the
    // message of a file that did not open is up, before the main loop.
    korvo::desktop::CloseOnEndOfSession(*this);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(argv[i].utf8_string());
    viewer_ = std::make_unique<korvo::Viewer>(args);
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

// The macro defines wxGetApp(), which this program never calls.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
wxIMPLEMENT_APP(ViewerApp);
#pragma GCC diagnostic pop
