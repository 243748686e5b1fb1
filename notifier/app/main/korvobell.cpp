// korvobell: the tray notifier. One instance per user: a second start ends
// at once.
#include <wx/app.h>
#include <wx/image.h>

#include "common/userenvironment.h"
#include "desktop/session_end.h"
#include "notifier/app/notifier_frame.h"
#include "platform/instance_lock.h"

namespace {

class KorvoBellApp : public wxApp {
 public:
  bool OnInit() override {
    wxInitAllImageHandlers();
    korvo::desktop::CloseOnEndOfSession(*this);
    korvo::UserEnvironment& env = korvo::GetUserEnvironment();
    korvo::notifier::NotifyOptions options;
    options.Load();
    SetTopWindow(new korvo::notifier::NotifierFrame(options, env.GetDataPath()));
    return true;
  }
};

}  // namespace

// The macro defines wxGetApp(), which this program never calls.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
wxIMPLEMENT_APP_NO_MAIN(KorvoBellApp);
#pragma GCC diagnostic pop

int main(int argc, char** argv) {
  korvo::platform::InstanceLock lock("KorvoNotifier");
  if (!lock.held()) return 0;
  return wxEntry(argc, argv);
}
