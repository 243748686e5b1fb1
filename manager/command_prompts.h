// The prompts of the manager's commands: the text the status bar shows while
// a menu item or button is pointed at, and after "\n" the button's tooltip.
#pragma once

#include <string>

namespace korvo::manager {

// Empty for a command without a prompt.
std::string CommandPrompt(int id);
// The parts before and after the "\n".
std::string PromptMessage(int id);
std::string PromptTip(int id);

}  // namespace korvo::manager
