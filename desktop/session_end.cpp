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
  // A closed window is deleted, and the program ends, at the next idle
  // pass; the signal reached the loop through a pipe, which brings none, so
  // an idle program would wait for its next window event.
  wxWakeUpIdle();
}

}  // namespace

void CloseOnEndOfSession(wxApp& app) {
  app.SetSignalHandler(SIGTERM, CloseOnSignal);
  app.SetSignalHandler(SIGHUP, CloseOnSignal);
}

}  // namespace korvo::desktop
