// The wx side of the engine's sheet: the worker's calls become wxThreadEvents
// on the wizard's window (SetupProgressText 0x464, SetupProgressStep 0x465,
// SetupFinished 0x466; questions and the wait cursor 0x467), and the worker
// waits until the window's thread has handled each one, as GTK takes calls
// from one thread only.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "core/setup/install_engine.h"

class wxThreadEvent;
class wxWindow;

namespace korvo::setup {

// What the wizard does with the messages, on its own thread.
class SetupWindow {
 public:
  virtual ~SetupWindow() = default;
  // Receives the events and owns the boxes.
  virtual wxWindow* Window() = 0;
  virtual void OnSetupProgressText(const std::string& line) = 0;
  virtual void OnSetupProgressStep() = 0;
  virtual void OnSetupFinished(int result) = 0;
};

// Inline call id of the questions and the wait cursor.
inline constexpr int kSetupCall = 0x467;

class SheetBridge final : public SetupSheet {
 public:
  // Boxes go through desktop::Prompts() with the window as parent; an error
  // box is preceded by the bell.
  explicit SheetBridge(SetupWindow& window);
  ~SheetBridge() override;
  SheetBridge(const SheetBridge&) = delete;
  SheetBridge& operator=(const SheetBridge&) = delete;

  // From now on the worker's calls are answered at once without the window
  // (lines dropped, questions answered Cancel), also those already waiting,
  // so the worker can be joined after the wizard has ended. Called on the
  // window's thread before the window goes.
  void Close();

  void ProgressText(const std::string& line) override;
  void ProgressStep() override;
  void Finished(int result) override;
  desktop::Answer Ask(const std::string& text, const std::string& caption, desktop::Buttons buttons,
                      desktop::Icon icon) override;
  void Busy(bool on) override;

 private:
  struct Call;
  void Send(int id, const std::shared_ptr<Call>& call);
  void OnEvent(wxThreadEvent& event);

  SetupWindow& window_;
  std::mutex mutex_;
  std::condition_variable done_;
  bool closed_ = false;
};

}  // namespace korvo::setup
