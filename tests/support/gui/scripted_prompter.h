// A Prompter for tests: installed for its lifetime, it records every box and
// chooser with its texts and gives the answers queued by the test, in order.
// A prompt with no answer queued, or of another kind than the next answer,
// fails the test and is answered Cancel.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "desktop/prompt.h"

namespace korvo::test {

class ScriptedPrompter final : public desktop::Prompter {
 public:
  struct Prompt {
    bool chooser = false;  // a file chooser, else a message box
    std::string text;      // the message (empty for a chooser)
    std::string caption;
    desktop::Buttons buttons = desktop::Buttons::Ok;
    desktop::Icon icon = desktop::Icon::None;
    desktop::FileRequest request;  // for a chooser
  };

  ScriptedPrompter();
  ~ScriptedPrompter() override;
  ScriptedPrompter(const ScriptedPrompter&) = delete;
  ScriptedPrompter& operator=(const ScriptedPrompter&) = delete;

  // The answer to the next message box.
  void Answer(desktop::Answer answer);
  // The next file chooser picks `path`, or is cancelled.
  void Choose(std::string path);
  void CancelChooser();

  const std::vector<Prompt>& prompts() const { return prompts_; }
  // True when every queued answer was used.
  bool Done() const { return script_.empty(); }

  desktop::Answer Message(wxWindow* parent, const std::string& text, const std::string& caption,
                          desktop::Buttons buttons, desktop::Icon icon) override;
  std::optional<std::string> ChooseFile(wxWindow* parent, const desktop::FileRequest& request) override;

 private:
  struct Step {
    bool chooser;
    desktop::Answer answer;
    std::optional<std::string> path;
  };
  std::deque<Step> script_;
  std::vector<Prompt> prompts_;
  desktop::Prompter* before_;
};

}  // namespace korvo::test
