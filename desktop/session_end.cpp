#include "desktop/session_end.h"

#include <csignal>

#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/toplevel.h>

namespace korvo::desktop {
namespace {

void CloseOnSignal(int) {
  for (wxWindow* window : wxTopLevelWindows)
    if (auto* dialog = dynamic_cast<wxDialog*>(window); dialog && dialog->IsModal()) dialog->EndModal(wxID_CANCEL);
  if (wxWindow* top = wxTheApp->GetTopWindow())
    top->Close(true);
  else
    wxTheApp->ExitMainLoop();
}

}  // namespace

void CloseOnEndOfSession(wxApp& app) {
  app.SetSignalHandler(SIGTERM, CloseOnSignal);
  app.SetSignalHandler(SIGHUP, CloseOnSignal);
}

}  // namespace korvo::desktop
