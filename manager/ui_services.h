// What a list needs from the user interface: message boxes, the wait cursor
// and the refresh timer. The window gives them through desktop::Prompts() and
// a wxTimer; model tests answer them. The header needs no wx.
#pragma once

#include <optional>
#include <string>

#include "desktop/prompt.h"

namespace korvo::manager {

class UiServices {
 public:
  virtual ~UiServices() = default;
  virtual desktop::Answer Message(const std::string& text, const std::string& caption, desktop::Buttons buttons,
                                  desktop::Icon icon) = 0;
  virtual void BeginWaitCursor() {}
  virtual void EndWaitCursor() {}
  // The list's refresh timer (id 1); false when it cannot be set.
  virtual bool StartTimer(int milliseconds) = 0;
  virtual void StopTimer() = 0;
  // The Refresh Interval dialog, starting at current; the new interval on OK.
  virtual std::optional<int> AskRefreshInterval(int current) = 0;
};

// A plain box with an OK button, as the lists show request and file errors.
inline void ShowText(UiServices& ui, const std::string& text) {
  ui.Message(text, "Korvo Manager", desktop::Buttons::Ok, desktop::Icon::Warning);
}

}  // namespace korvo::manager
