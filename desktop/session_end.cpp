#include "desktop/session_end.h"

#include <csignal>

#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/evtloop.h>
#include <wx/toplevel.h>

#include "desktop/prompt.h"

namespace korvo::desktop {
namespace {

bool g_closing = false;

void EndModalDialogs() {
  for (wxWindow* window : wxTopLevelWindows)
    if (auto* dialog = dynamic_cast<wxDialog*>(window); dialog && dialog->IsModal()) dialog->EndModal(wxID_CANCEL);
}

// The window closes once the loops of the boxes have ended and their code
// has gone on: closed from under a box (the viewer's open asking about its
// file), it would delete what that code still uses. Before the main loop
// runs (a box of the program's start) there is no active loop yet.
void CloseWhenOnMainLoop(wxIdleEvent& event) {
  event.Skip();
  const wxEventLoopBase* loop = wxEventLoopBase::GetActive();
  if (!loop || !loop->IsMain()) {
    EndModalDialogs();  // one its code opened since
    event.RequestMore();
    return;
  }
  wxTheApp->Unbind(wxEVT_IDLE, &CloseWhenOnMainLoop);
  if (wxWindow* top = wxTheApp->GetTopWindow())
    top->Close(true);
  else
    wxTheApp->ExitMainLoop();
  // A closed window is deleted, and the program ends, at the next idle pass.
  wxWakeUpIdle();
}

void CloseOnSignal(int) {
  // The toolkit's boxes first: the code that waits for them goes on once
  // they answer, and any box it asks for then answers at once.
  EndPrompts();
  EndModalDialogs();
  if (!g_closing) {
    g_closing = true;
    wxTheApp->Bind(wxEVT_IDLE, &CloseWhenOnMainLoop);
  }
  // The signal reached the loop through a pipe, which brings no idle pass,
  // so an idle program would wait for its next window event.
  wxWakeUpIdle();
}

}  // namespace

void CloseOnEndOfSession(wxApp& app) {
  app.SetSignalHandler(SIGTERM, CloseOnSignal);
  app.SetSignalHandler(SIGHUP, CloseOnSignal);
}

}  // namespace korvo::desktop
