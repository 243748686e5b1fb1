// The character filter of DialStringEdit, the fax and phone number edits:
// which typed characters reach the edit. Everything else is dropped with a beep.
#pragma once

namespace korvo::desktop {

// True for Ctrl-C (3), Backspace (8), Ctrl-V (22), space, '#', '(', ')', '*',
// ',', '-', the digits, 'A' to 'D', 'P', 'T' and 'W'; false for any other
// character, lower-case letters included. `character` is a Unicode code.
bool DialStringAccepts(int character);

}  // namespace korvo::desktop
