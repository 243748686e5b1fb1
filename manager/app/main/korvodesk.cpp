// korvodesk: the fax manager.
#include <wx/app.h>
#include <wx/image.h>

#include "common/userenvironment.h"
#include "desktop/session_end.h"
#include "manager/app/manager_app.h"

namespace {

class KorvoDeskApp : public wxApp {
 public:
  bool OnInit() override {
    wxInitAllImageHandlers();
    SetAppName("Korvo Manager");
    korvo::GetUserEnvironment();
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.push_back(argv[i].utf8_string());
    // Before the window shows, so that the end of the session always finds it.
    korvo::desktop::CloseOnEndOfSession(*this);
    manager_ = std::make_unique<korvo::manager::ManagerApp>();
    if (!manager_->InitInstance(arguments, korvo::manager::SystemServiceControl())) return false;
    return true;
  }

  int OnExit() override {
    manager_.reset();
    return wxApp::OnExit();
  }

 private:
  std::unique_ptr<korvo::manager::ManagerApp> manager_;
};

}  // namespace

// The macro defines wxGetApp(), which this program never calls.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
wxIMPLEMENT_APP(KorvoDeskApp);
#pragma GCC diagnostic pop
