#include "core/setup/app/sheet_bridge.h"

#include <wx/event.h>
#include <wx/utils.h>
#include <wx/window.h>

namespace korvo::setup {

struct SheetBridge::Call {
  std::string text;
  std::string caption;
  desktop::Buttons buttons = desktop::Buttons::Ok;
  desktop::Icon icon = desktop::Icon::None;
  int value = 0;
  bool question = false;
  desktop::Answer answer = desktop::Answer::Cancel;
  bool done = false;
};

SheetBridge::SheetBridge(SetupWindow& window) : window_(window) {
  window_.Window()->Bind(wxEVT_THREAD, &SheetBridge::OnEvent, this, kSetupProgressText, kSetupCall);
}

SheetBridge::~SheetBridge() {
  Close();
  window_.Window()->Unbind(wxEVT_THREAD, &SheetBridge::OnEvent, this, kSetupProgressText, kSetupCall);
}

void SheetBridge::Close() {
  std::lock_guard<std::mutex> hold(mutex_);
  closed_ = true;
  done_.notify_all();
}

void SheetBridge::Send(int id, const std::shared_ptr<Call>& call) {
  std::unique_lock<std::mutex> hold(mutex_);
  if (closed_) return;
  auto* event = new wxThreadEvent(wxEVT_THREAD, id);
  event->SetPayload(call);
  wxQueueEvent(window_.Window()->GetEventHandler(), event);
  done_.wait(hold, [&] { return call->done || closed_; });
}

void SheetBridge::OnEvent(wxThreadEvent& event) {
  const auto call = event.GetPayload<std::shared_ptr<Call>>();
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (closed_) return;
  }
  // Run without the bridge's mutex: a box runs an event loop of its own.
  switch (event.GetId()) {
    case kSetupProgressText:
      window_.OnSetupProgressText(call->text);
      break;
    case kSetupProgressStep:
      window_.OnSetupProgressStep();
      break;
    case kSetupFinished:
      window_.OnSetupFinished(call->value);
      break;
    default:
      if (call->question) {
        // The system's error sound comes before an error box.
        if (call->icon == desktop::Icon::Error) wxBell();
        call->answer = desktop::Prompts().Message(window_.Window(), call->text, call->caption, call->buttons, call->icon);
      } else if (call->value) {
        wxBeginBusyCursor();
      } else {
        wxEndBusyCursor();
      }
  }
  std::lock_guard<std::mutex> hold(mutex_);
  call->done = true;
  done_.notify_all();
}

void SheetBridge::ProgressText(const std::string& line) {
  auto call = std::make_shared<Call>();
  call->text = line;
  Send(kSetupProgressText, call);
}

void SheetBridge::ProgressStep() { Send(kSetupProgressStep, std::make_shared<Call>()); }

void SheetBridge::Finished(int result) {
  auto call = std::make_shared<Call>();
  call->value = result;
  Send(kSetupFinished, call);
}

desktop::Answer SheetBridge::Ask(const std::string& text, const std::string& caption, desktop::Buttons buttons,
                                 desktop::Icon icon) {
  auto call = std::make_shared<Call>();
  call->text = text;
  call->caption = caption;
  call->buttons = buttons;
  call->icon = icon;
  call->question = true;
  Send(kSetupCall, call);
  return call->answer;
}

void SheetBridge::Busy(bool on) {
  auto call = std::make_shared<Call>();
  call->value = on ? 1 : 0;
  Send(kSetupCall, call);
}

}  // namespace korvo::setup
