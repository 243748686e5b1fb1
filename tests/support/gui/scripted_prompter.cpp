#include "tests/support/gui/scripted_prompter.h"

#include <gtest/gtest.h>

namespace korvo::test {

ScriptedPrompter::ScriptedPrompter() : before_(desktop::SetPrompts(this)) {}

ScriptedPrompter::~ScriptedPrompter() { desktop::SetPrompts(before_); }

void ScriptedPrompter::Answer(desktop::Answer answer) { script_.push_back({false, answer, std::nullopt}); }

void ScriptedPrompter::Choose(std::string path) { script_.push_back({true, desktop::Answer::Ok, std::move(path)}); }

void ScriptedPrompter::CancelChooser() { script_.push_back({true, desktop::Answer::Cancel, std::nullopt}); }

desktop::Answer ScriptedPrompter::Message(wxWindow*, const std::string& text, const std::string& caption,
                                          desktop::Buttons buttons, desktop::Icon icon) {
  prompts_.push_back({false, text, caption, buttons, icon, {}});
  if (script_.empty() || script_.front().chooser) {
    ADD_FAILURE() << "unexpected message box \"" << text << "\" (caption \"" << caption << "\")";
    return desktop::Answer::Cancel;
  }
  desktop::Answer answer = script_.front().answer;
  script_.pop_front();
  return answer;
}

std::optional<std::string> ScriptedPrompter::ChooseFile(wxWindow*, const desktop::FileRequest& request) {
  prompts_.push_back({true, "", request.caption, desktop::Buttons::OkCancel, desktop::Icon::None, request});
  if (script_.empty() || !script_.front().chooser) {
    ADD_FAILURE() << "unexpected file chooser (caption \"" << request.caption << "\")";
    return std::nullopt;
  }
  std::optional<std::string> path = script_.front().path;
  script_.pop_front();
  return path;
}

}  // namespace korvo::test
