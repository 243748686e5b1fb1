// The end of a desktop session on this platform: SIGTERM and SIGHUP close the
// program as its user would, so that it stops its work and saves its state
// rather than dying in the middle of a write.
#pragma once

class wxApp;

namespace korvo::desktop {

// Call from OnInit, before any window or box. On either signal (handled on
// the event loop, not in the signal handler) the boxes still open are
// cancelled, the toolkit's message boxes and file choosers too, no box opens
// any more, and the top window is closed through its close handler; without
// one the main loop ends.
void CloseOnEndOfSession(wxApp& app);

}  // namespace korvo::desktop
