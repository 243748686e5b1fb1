#include "launcher/app/title_window.h"

#include <wx/dcclient.h>
#include <wx/display.h>
#include <wx/icon.h>
#include <wx/mstream.h>
#include <wx/image.h>
#include <wx/utils.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "core/install/install.h"
#include "desktop/prompt.h"
#include "launcher/app/launcher_icons.h"

namespace korvo::launcher {

TitleWindow::TitleWindow()
    : wxFrame(nullptr, wxID_ANY, kTitleCaption, wxDefaultPosition, wxDefaultSize, wxDEFAULT_FRAME_STYLE) {
  SetBackgroundColour(wxColour(0x80, 0x00, 0x40));
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
  wxMemoryInputStream png(kIcon150Png.data(), kIcon150Png.size());
  wxImage image(png, wxBITMAP_TYPE_PNG);
  if (image.IsOk()) {
    wxIcon icon;
    icon.CopyFromBitmap(wxBitmap(image));
    SetIcon(icon);
  }
  Bind(wxEVT_PAINT, &TitleWindow::OnPaint, this);
}

void TitleWindow::OnPaint(wxPaintEvent&) {
  wxPaintDC dc(this);
  dc.SetBackground(wxBrush(GetBackgroundColour()));
  dc.Clear();
  // 16 points at the screen's own resolution, as the title was drawn.
  wxFont font(wxFontInfo(16).FaceName("Times New Roman").Bold().Italic());
  dc.SetFont(font);
  dc.SetTextForeground(*wxWHITE);
  dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
  const wxSize client = GetClientSize();
  dc.DrawText(kTitleText, client.x / 32, client.y / 32);
}

void TitleWindow::ShowMaximized() {
  // The whole work area also where no window manager maximises windows.
  SetSize(wxDisplay(static_cast<unsigned>(std::max(wxDisplay::GetFromWindow(this), 0))).GetClientArea());
  Maximize(true);
  Show(true);
  Raise();
  Update();
  wxYield();
}

void TitleWindow::StopBox(const std::string& text, const std::string& caption) {
  desktop::Prompts().Message(this, text, caption, desktop::Buttons::Ok, desktop::Icon::Error);
}

LaunchResult RunKorvoPrep(const std::vector<std::string>& arguments, const std::string& ownFolder) {
  auto* title = new TitleWindow;
  LauncherOptions options;
  options.ownFolder = ownFolder;
  options.isAdministrator = [] { return RunningAsAdministrator() != 0; };
  // Lets the library's last windows and threads go before anything is
  // started or deleted.
  options.settle = [] { std::this_thread::sleep_for(std::chrono::seconds(1)); };
  LaunchResult result = RunLauncher(ModeOf(arguments), *title, options);
  title->Destroy();
  return result;
}

}  // namespace korvo::launcher
