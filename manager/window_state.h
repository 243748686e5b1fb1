// The main window's placement as the user left it, kept in the profile's
// section "Window State" (user hive, "Korvo Manager\Window State"): the
// normal rectangle, whether it was maximized, the width of the tree pane.
#pragma once

#include <optional>
#include <string>

namespace korvo::manager {

struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool operator==(const Rect&) const = default;
};

struct Size {
  int width = 0;
  int height = 0;
};

// An eighth of the screen in from the left and top, three quarters in size.
Rect DefaultRect(Size screen);

// "%04d %04d %04d %04d" of left, top, right, bottom.
std::string FormatRect(const Rect& rect);
// Four blank-separated numbers, whatever their width or sign (a monitor left
// of the first gives negative edges); nothing when the text holds fewer.
std::optional<Rect> ParseRect(const std::string& text);

// The rectangle to open at: the stored one, or the default when none is
// stored; a window whose left or top edge lies at or beyond the screen less
// an icon is moved back to that limit, keeping its size, so it stays within
// reach. A stored rectangle that cannot be right (damaged: larger than the
// desktop, the union of all screens, or empty) is made to fit: at most the
// desktop's size and wholly on it; an edge left of or above the desktop is
// moved onto it, so the title bar stays within reach.
Rect PlacementRect(const std::optional<Rect>& stored, Size screen, Size icon);
Rect PlacementRect(const std::optional<Rect>& stored, Size screen, Size icon, const Rect& desktop);

// "Splitter": -1 means a quarter of the window's width.
int TreePaneWidth(int stored, int windowWidth);
inline constexpr int kMinPaneWidth = 20;

// "Maximized" as written on closing: maximized, or minimized from maximized.
bool MaximizedFlag(bool maximized, bool minimized, bool restoresToMaximized);

struct WindowState {
  std::optional<Rect> rect;  // nothing: no usable "Rect"
  bool maximized = false;
  int splitter = -1;
  bool toolBar = true;  // the bars shown
  bool statusBar = true;
};

inline constexpr const char* kProfileKey = "Korvo Manager";
inline constexpr const char* kWindowStateSection = "Korvo Manager\\Window State";

WindowState LoadWindowState();
void SaveWindowState(const Rect& normal, bool maximized, int splitter, bool toolBar, bool statusBar);

}  // namespace korvo::manager
