// The user interface as list model tests see it: every box recorded, the
// answers queued by the test (Yes, then OK, when none is), the refresh timer
// as a flag the test reads and may refuse.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "manager/ui_services.h"

namespace korvo::test {

class FakeUi final : public manager::UiServices {
 public:
  struct Box {
    std::string text;
    std::string caption;
    desktop::Buttons buttons;
  };

  desktop::Answer Message(const std::string& text, const std::string& caption, desktop::Buttons buttons,
                          desktop::Icon) override {
    boxes.push_back({text, caption, buttons});
    if (!answers.empty()) {
      const desktop::Answer a = answers.front();
      answers.pop_front();
      return a;
    }
    return buttons == desktop::Buttons::YesNo ? desktop::Answer::Yes : desktop::Answer::Ok;
  }
  void BeginWaitCursor() override { ++waitDepth; }
  void EndWaitCursor() override { --waitDepth; }
  bool StartTimer(int milliseconds) override {
    if (refuseTimer) return false;
    timerMs = milliseconds;
    return true;
  }
  void StopTimer() override { timerMs = 0; }
  std::optional<int> AskRefreshInterval(int current) override {
    intervalAsked.push_back(current);
    return intervalAnswer;
  }

  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (const Box& b : boxes) out.push_back(b.text);
    return out;
  }

  std::vector<Box> boxes;
  std::deque<desktop::Answer> answers;
  int waitDepth = 0;
  int timerMs = 0;  // 0: not running
  bool refuseTimer = false;
  std::vector<int> intervalAsked;     // the interval each dialog started at
  std::optional<int> intervalAnswer;  // nothing: Cancel
};

}  // namespace korvo::test
