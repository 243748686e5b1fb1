#include "desktop/screenshot.h"

#include <system_error>

#include <wx/dcmemory.h>
#include <wx/dcscreen.h>
#include <wx/window.h>

namespace korvo::desktop {

wxImage CaptureWindow(wxWindow* window) {
  if (!window || !window->IsShownOnScreen()) return wxImage();
  window->Update();
  wxRect rect = window->GetScreenRect();
  if (rect.IsEmpty()) return wxImage();
  // Read back from the screen: wxGTK 3 cannot blit from a window's own DC.
  wxScreenDC screen;
  wxBitmap bitmap(rect.width, rect.height, 24);
  {
    wxMemoryDC memory(bitmap);
    if (!memory.Blit(0, 0, rect.width, rect.height, &screen, rect.x, rect.y)) return wxImage();
  }
  return bitmap.ConvertToImage();
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
