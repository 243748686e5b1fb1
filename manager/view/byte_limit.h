// Stops an edit's input at a stored field's size in UTF-8 bytes. wx counts
// characters (SetMaxLength), so a text of two-byte letters passed the limit
// and the record cut it; an edit that would not fit is refused whole (typed
// letter or pasted text) with a beep, never cut. The edit's other text
// handlers must Skip the event: handlers bound later run first.
#pragma once

#include <cstddef>

class wxTextCtrl;

namespace korvo::manager {

void LimitBytes(wxTextCtrl* edit, std::size_t bytes);

}  // namespace korvo::manager
