// A dialog sized to its contents can be narrower than its title, which the
// window manager then cuts ("Abo…ifier"). These widen it so that the whole
// title fits its title bar beside the icon and the buttons there.
#pragma once

class wxString;
class wxTopLevelWindow;
class wxWindow;

namespace korvo::desktop {

// The width a window needs for that title: the text in a bold system font
// (as title bars draw it) and room for the bar's icon and three buttons.
int TitleBarWidth(wxWindow& window, const wxString& title);

// Makes the window at least TitleBarWidth wide for its own title, also as its
// least size. Call after its sizer fitted it.
void WidenForTitle(wxTopLevelWindow& window);

}  // namespace korvo::desktop
