#include "core/setup/install_engine.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/lasterror.h"

namespace korvo {

InstallEngine::InstallEngine(SetupSettings& settings, desktop::Prompter& prompts, Pause pause)
    : settings_(settings), prompts_(prompts), pause_(std::move(pause)) {}

InstallEngine::~InstallEngine() {
  RequestStop();
  Join();
}

void InstallEngine::Run(bool (InstallEngine::*body)()) {
  if (worker_.joinable()) return;
  worker_ = std::thread([this, body] { (this->*body)(); });
}

void InstallEngine::StartInstall() { Run(&InstallEngine::Install); }
void InstallEngine::StartRemove() { Run(&InstallEngine::Remove); }

void InstallEngine::RequestStop() {
  std::lock_guard<std::mutex> hold(stopLock_);
  stop_ = true;
  stopWake_.notify_all();
}

bool InstallEngine::StopRequested() const {
  std::lock_guard<std::mutex> hold(stopLock_);
  return stop_;
}

void InstallEngine::Join() {
  if (worker_.joinable()) worker_.join();
}

bool InstallEngine::ConfirmStop(const std::function<bool()>& question) {
  std::lock_guard<std::mutex> hold(lock_);
  const bool stop = question();
  if (stop) RequestStop();
  return stop;
}

void InstallEngine::Wait(std::chrono::milliseconds time) {
  if (pause_) {
    pause_(time);
    return;
  }
  std::unique_lock<std::mutex> hold(stopLock_);
  stopWake_.wait_for(hold, time, [this] { return stop_; });
}

bool InstallEngine::Progress(const char* format, ...) {
  char line[256];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof line, format, args);
  va_end(args);
  {
    std::lock_guard<std::mutex> hold(textLock_);
    pending_ = line;
  }
  // Waits here while the wizard's cancel question is open.
  { std::lock_guard<std::mutex> hold(lock_); }
  if (StopRequested()) return false;
  {
    std::lock_guard<std::mutex> hold(textLock_);
    last_ = line;
    haveLast_ = true;
  }
  if (sheet_) {
    sheet_->ProgressText(line);
    sheet_->ProgressStep();
  }
  return true;
}

std::string InstallEngine::lastProgressText() const {
  std::lock_guard<std::mutex> hold(textLock_);
  return last_;
}

std::string InstallEngine::pendingProgressText() const {
  std::lock_guard<std::mutex> hold(textLock_);
  return pending_;
}

desktop::Answer InstallEngine::Ask(const std::string& text, const std::string& caption, desktop::Buttons buttons,
                                   desktop::Icon icon) {
  if (sheet_) return sheet_->Ask(text, caption, buttons, icon);
  return prompts_.Message(nullptr, text, caption, buttons, icon);
}

void InstallEngine::ReportError(const std::string& step) {
  if (lastError_ == 0) lastError_ = platform::GetLastError();
  std::string text = "Error in " + step + ": " + lastProgressText();
  if (lastError_ != 0) {
    std::string system = std::strerror(static_cast<int>(lastError_));
    system = system.substr(0, system.find('\r'));
    text += "\n(" + system + ")";
  }
  Ask(text, removing_ ? "Korvo Uninstall Error" : "Korvo Setup Error", desktop::Buttons::Ok, desktop::Icon::Error);
}

bool InstallEngine::Install() {
  removing_ = false;
  if (sheet_ && !StopRequested()) sheet_->Finished(0);
  return false;
}

bool InstallEngine::Remove() {
  removing_ = true;
  if (sheet_ && !StopRequested()) sheet_->Finished(0);
  return false;
}

}  // namespace korvo
