// Pictures of windows as they show on the screen, for tests and their
// artifacts (build/artifacts/<program>/<name>.png).
#pragma once

#include <filesystem>

#include <wx/image.h>

class wxWindow;

namespace korvo::desktop {

// The window's rectangle of the screen, children included, after its pending
// drawing is done. An invalid image when the window is not shown.
wxImage CaptureWindow(wxWindow* window);

// CaptureWindow as a PNG file; creates the folders. False when nothing was shown
// or the file cannot be written.
bool SaveScreenshot(wxWindow* window, const std::filesystem::path& png);

}  // namespace korvo::desktop
