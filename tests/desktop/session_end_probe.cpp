// A small desktop program for the session-end tests: a frame, and once it
// shows, the box its argument names, through the same prompt layer and
// signal handling as the real programs. After the box returns it asks once
// more, as a program whose user cancelled might; at the session's end that
// second box must not hold the program either.
#include <string>

#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/frame.h>

#include "desktop/prompt.h"
#include "desktop/session_end.h"

namespace {

using korvo::desktop::Prompts;

void Ask(wxWindow* parent, const std::string& kind) {
  if (kind == "message") {
    Prompts().Message(parent, "Probe message", "Probe box", korvo::desktop::Buttons::Ok,
                      korvo::desktop::Icon::Information);
  } else if (kind == "question") {
    Prompts().Message(parent, "Probe question?", "Probe box", korvo::desktop::Buttons::YesNoCancel,
                      korvo::desktop::Icon::Question);
  } else if (kind == "open" || kind == "save") {
    korvo::desktop::FileRequest request;
    request.save = kind == "save";
    request.caption = "Probe box";
    Prompts().ChooseFile(parent, request);
  } else if (kind == "dialog") {
    wxDialog dialog(parent, wxID_ANY, "Probe box", wxDefaultPosition, wxSize(300, 200));
    dialog.ShowModal();
  }
}

class ProbeApp : public wxApp {
 public:
  bool OnInit() override {
    if (argc < 2) return false;
    korvo::desktop::CloseOnEndOfSession(*this);
    auto* frame = new wxFrame(nullptr, wxID_ANY, "Probe", wxDefaultPosition, wxSize(400, 300));
    frame->Show();
    const std::string kind = argv[1].utf8_string();
    CallAfter([frame, kind] {
      Ask(frame, kind);
      Ask(frame, "message");
    });
    return true;
  }
};

}  // namespace

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
wxIMPLEMENT_APP(ProbeApp);
#pragma GCC diagnostic pop
