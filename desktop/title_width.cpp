#include "desktop/title_width.h"

#include <algorithm>

#include <wx/settings.h>
#include <wx/toplevel.h>

namespace korvo::desktop {

int TitleBarWidth(wxWindow& window, const wxString& title) {
  const wxFont font = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT).Bold();
  int width = 0, height = 0;
  window.GetTextExtent(title, &width, &height, nullptr, nullptr, &font);
  // Each of the icon and the three buttons is about a square of the bar's
  // height; one more for the bar's margins.
  return width + 5 * (height + 8);
}

void WidenForTitle(wxTopLevelWindow& window) {
  const int need = TitleBarWidth(window, window.GetTitle());
  const wxSize least = window.GetMinSize();
  if (least.x >= need && window.GetSize().x >= need) return;
  window.SetMinSize(wxSize(std::max(least.x, need), least.y));
  window.SetSize(wxSize(std::max(window.GetSize().x, need), window.GetSize().y));
}

}  // namespace korvo::desktop
