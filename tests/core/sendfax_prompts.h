// A Prompter for the Send Fax models' tests, which run without a display: it
// records every box and gives the queued answers in order, each after an
// optional action (the test's move while the box is open). A box with no
// answer queued fails the test and is answered Cancel.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "desktop/prompt.h"

namespace korvo::test {

class RecordedPrompts final : public desktop::Prompter {
 public:
  struct Box {
    std::string text;
    std::string caption;
    desktop::Buttons buttons;
    desktop::Icon icon;
  };

  void Answer(desktop::Answer answer, std::function<void()> action = {}) {
    script_.push_back({answer, std::move(action)});
  }
  desktop::Answer Message(wxWindow*, const std::string& text, const std::string& caption, desktop::Buttons buttons,
                          desktop::Icon icon) override {
    boxes.push_back({text, caption, buttons, icon});
    if (script_.empty()) {
      ADD_FAILURE() << "unexpected message box \"" << text << "\" (caption \"" << caption << "\")";
      return desktop::Answer::Cancel;
    }
    auto step = std::move(script_.front());
    script_.pop_front();
    if (step.action) step.action();
    return step.answer;
  }
  std::optional<std::string> ChooseFile(wxWindow*, const desktop::FileRequest&) override {
    ADD_FAILURE() << "unexpected file chooser";
    return std::nullopt;
  }
  bool Done() const { return script_.empty(); }

  std::vector<Box> boxes;

 private:
  struct Step {
    desktop::Answer answer;
    std::function<void()> action;
  };
  std::deque<Step> script_;
};

}  // namespace korvo::test
