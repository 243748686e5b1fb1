// The checks of the manager's dialogs, without windows: what a number field
// takes and the message that refuses the rest.
#pragma once

#include <optional>
#include <string>

namespace korvo::manager {

struct IntegerEntry {
  std::optional<int> value;  // nothing: refused with message
  std::string message;
};

// A whole number between low and high, blanks around it allowed:
// "Please enter an integer." when it is none, "Please enter an integer
// between <low> and <high>." when it is out of range.
IntegerEntry ParseIntegerEntry(const std::string& text, int low, int high);

// The Refresh Interval dialog's one number, in seconds.
IntegerEntry ParseRefreshInterval(const std::string& text);

}  // namespace korvo::manager
