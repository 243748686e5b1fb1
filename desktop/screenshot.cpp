#include "desktop/screenshot.h"

#include <system_error>

#include <wx/gdicmn.h>
#include <wx/utils.h>
#include <wx/window.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace korvo::desktop {

namespace {

// The screen's pixels through the X server itself. Reading the root window
// through a screen DC returns cairo's snapshot of the first read ever after,
// so a second picture would show the screen as it was at the first.
wxImage ReadScreen(const wxRect& rect) {
  const wxDisplayInfo display = wxGetDisplayInfo();
  if (display.type != wxDisplayX11 || !display.dpy) return wxImage();
  auto* dpy = static_cast<Display*>(display.dpy);
  XSync(dpy, False);
  XImage* pixels = XGetImage(dpy, DefaultRootWindow(dpy), rect.x, rect.y, static_cast<unsigned>(rect.width),
                             static_cast<unsigned>(rect.height), AllPlanes, ZPixmap);
  if (!pixels) return wxImage();
  const auto channel = [](unsigned long pixel, unsigned long mask) -> unsigned char {
    if (mask == 0) return 0;
    const int shift = __builtin_ctzl(mask);
    return static_cast<unsigned char>(((pixel & mask) >> shift) * 255 / (mask >> shift));
  };
  wxImage image(rect.width, rect.height);
  for (int y = 0; y < rect.height; ++y)
    for (int x = 0; x < rect.width; ++x) {
      const unsigned long p = XGetPixel(pixels, x, y);
      image.SetRGB(x, y, channel(p, pixels->red_mask), channel(p, pixels->green_mask), channel(p, pixels->blue_mask));
    }
  XDestroyImage(pixels);
  return image;
}

}  // namespace

wxImage CaptureWindow(wxWindow* window) {
  if (!window || !window->IsShownOnScreen()) return wxImage();
  window->Update();
  wxRect rect = window->GetScreenRect();
  if (rect.IsEmpty()) return wxImage();
  return ReadScreen(rect.Intersect(wxRect(wxGetDisplaySize())));
}

bool SaveScreenshot(wxWindow* window, const std::filesystem::path& png) {
  wxImage image = CaptureWindow(window);
  if (!image.IsOk()) return false;
  if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
  std::error_code ec;
  if (png.has_parent_path()) std::filesystem::create_directories(png.parent_path(), ec);
  return image.SaveFile(wxString::FromUTF8(png.string()), wxBITMAP_TYPE_PNG);
}

}  // namespace korvo::desktop
