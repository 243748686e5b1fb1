// korvoprep: installs Korvo from the media it lies on, or removes it
// ("/uninstall", which runs a copy of itself from a private temporary folder).
// All its work is done in its start-up; it ends without a message loop.
#include <wx/app.h>

#include <filesystem>

#include "launcher/app/title_window.h"
#include "platform/process.h"

namespace {

int gExitCode = 1;  // stays 1 when the toolkit does not start (no display)

class SetupLauncherApp : public wxApp {
 public:
  bool OnInit() override {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.push_back(argv[i].utf8_string());
    const std::string own = std::filesystem::path(korvo::platform::ModuleFileName()).parent_path().string();
    gExitCode = korvo::launcher::RunKorvoPrep(arguments, own).exitCode;
    return false;
  }
};

}  // namespace

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
wxIMPLEMENT_APP_NO_MAIN(SetupLauncherApp);
#pragma GCC diagnostic pop

int main(int argc, char** argv) {
  wxEntry(argc, argv);
  return gExitCode;
}
