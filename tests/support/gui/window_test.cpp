#include "tests/support/gui/window_test.h"

#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/evtloop.h>
#include <wx/timer.h>
#include <wx/toplevel.h>
#include <wx/uiaction.h>
#include <wx/utils.h>
#include <wx/window.h>

#include "desktop/screenshot.h"
#include "tests/support/sandbox.h"

namespace korvo::test {
namespace {

// One turn of the event loop: waits a little for an event rather than spinning.
void Turn() {
  if (wxEventLoopBase* loop = wxEventLoopBase::GetActive()) loop->DispatchTimeout(10);
  wxTheApp->ProcessPendingEvents();
  wxTheApp->ProcessIdle();
}

// Runs the loop until no event is waiting, so that drawing and layout are done.
void Settle() {
  wxEventLoopBase* loop = wxEventLoopBase::GetActive();
  for (int i = 0; i < 1000; ++i) {
    Turn();
    if (!loop || !loop->Pending()) break;
  }
}

wxPoint Middle(wxWindow* window) {
  wxRect r = window->GetScreenRect();
  return wxPoint(r.x + r.width / 2, r.y + r.height / 2);
}

}  // namespace

bool WaitFor(const std::function<bool()>& done, const std::string& what, std::chrono::milliseconds bound) {
  auto deadline = std::chrono::steady_clock::now() + bound;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "gave up waiting for " << what;
      return false;
    }
    Turn();
  }
  return true;
}

void ShowAndWait(wxWindow* window) {
  window->Show();
  window->Raise();
  WaitFor([&] { return window->IsShownOnScreen() && !window->GetScreenRect().IsEmpty(); }, "the window on screen");
  Settle();
  window->Update();
  Settle();
}

void Click(wxWindow* window) {
  wxPoint at = Middle(window);
  wxUIActionSimulator sim;
  sim.MouseMove(at);
  WaitFor([&] { return wxGetMousePosition() == at; }, "the pointer over the window");
  Settle();
  sim.MouseClick();
  Settle();
}

void Type(wxWindow* window, const std::string& text) {
  Click(window);
  WaitFor([&] { return window->HasFocus(); }, "the focus in the window");
  wxUIActionSimulator sim;
  sim.Text(text.c_str());
  Settle();
}

void PressKey(int key, int modifiers) {
  wxUIActionSimulator sim;
  sim.Char(key, modifiers);
  Settle();
}

namespace {

// One pending WhenModal: a timer that looks for the dialog every few
// milliseconds (timers fire in nested modal loops too) and deletes itself
// once the script was posted or the bound passed.
class ModalWatch final : public wxTimer {
 public:
  ModalWatch(int dialogId, std::function<void(wxDialog&)> script, std::chrono::milliseconds bound)
      : dialogId_(dialogId), script_(std::move(script)), deadline_(std::chrono::steady_clock::now() + bound) {}
  void Notify() override {
    for (wxWindow* window : wxTopLevelWindows) {
      auto* dialog = dynamic_cast<wxDialog*>(window);
      if (!dialog || dialog->GetId() != dialogId_ || !dialog->IsModal() || !dialog->IsShownOnScreen()) continue;
      Stop();
      // The script runs from the dialog's own loop, outside this timer's
      // callback, and may open further dialogs. The dialog stays while its
      // loop runs.
      wxTheApp->CallAfter([dialog, script = std::move(script_)] {
        ShowAndWait(dialog);
        script(*dialog);
      });
      wxTheApp->CallAfter([this] { delete this; });
      return;
    }
    if (std::chrono::steady_clock::now() > deadline_) {
      Stop();
      ADD_FAILURE() << "gave up waiting for modal dialog " << dialogId_;
      wxTheApp->CallAfter([this] { delete this; });
    }
  }

 private:
  int dialogId_;
  std::function<void(wxDialog&)> script_;
  std::chrono::steady_clock::time_point deadline_;
};

}  // namespace

void WhenModal(int dialogId, std::function<void(wxDialog&)> script, std::chrono::milliseconds bound) {
  (new ModalWatch(dialogId, std::move(script), bound))->Start(10);
}

void WithModal(const std::function<void()>& open, const std::function<void()>& script) {
  bool ran = false;
  wxTheApp->CallAfter([&] {
    script();
    ran = true;
  });
  open();
  EXPECT_TRUE(ran);
}

std::filesystem::path Screenshot(wxWindow* window, const std::string& program, const std::string& name) {
  Settle();
  std::filesystem::path png = BuildDir() / "artifacts" / program / (name + ".png");
  EXPECT_TRUE(desktop::SaveScreenshot(window, png)) << "screenshot " << png;
  return png;
}

const char* ToolkitLeakSuppressions() {
  return "leak:libfontconfig.so\n"
         "leak:libglib-2.0.so\n"
         "leak:libgobject-2.0.so\n"
         "leak:libgio-2.0.so\n"
         "leak:libdbus-1.so\n"
         "leak:libgtk-3.so\n"
         "leak:libgdk-3.so\n";
}

void WindowTest::TearDown() {
  for (wxWindow* window : wxTopLevelWindows) window->Destroy();
  WaitFor([] { return wxTopLevelWindows.empty(); }, "the windows deleted");
}

}  // namespace korvo::test
