// What a fax number may hold on its way into the modem's dial command: the
// characters the Send Fax dialog's fax-number edit admits. Anything else (a
// carriage return, ';', '&', other letters) the modem would take for more
// commands or dial modifiers.
#pragma once

#include <string_view>

namespace korvo {

// Digits, '#', '*', 'A' to 'D' (tones), ',' and 'W' (pauses), 'P' and 'T'
// (pulse and tone), '(', ')', '-' and the blank (layout).
bool IsDialCharacter(char c);
// True for a number of dial characters only, holding one besides blanks.
bool IsDialableNumber(std::string_view number);

}  // namespace korvo
