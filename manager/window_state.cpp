#include "manager/window_state.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "common/settings.h"

namespace korvo::manager {

Rect DefaultRect(Size screen) {
  const int width = screen.width * 3 / 4;
  const int height = screen.height * 3 / 4;
  const int left = width / 6;
  const int top = screen.height * 3 / 24;
  return {left, top, left + width, top + height};
}

std::string FormatRect(const Rect& r) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d %04d %04d %04d", r.left, r.top, r.right, r.bottom);
  return text;
}

std::optional<Rect> ParseRect(const std::string& text) {
  std::istringstream in(text);
  Rect r;
  if (!(in >> r.left >> r.top >> r.right >> r.bottom)) return std::nullopt;
  return r;
}

Rect PlacementRect(const std::optional<Rect>& stored, Size screen, Size icon) {
  return PlacementRect(stored, screen, icon, Rect{0, 0, screen.width, screen.height});
}

Rect PlacementRect(const std::optional<Rect>& stored, Size screen, Size icon, const Rect& desktop) {
  if (!stored) return DefaultRect(screen);
  Rect r = *stored;
  if (r.width() <= 0 || r.height() <= 0) return DefaultRect(screen);
  const bool fits = r.width() <= desktop.width() && r.height() <= desktop.height();
  const int width = std::min(r.width(), desktop.width());
  const int height = std::min(r.height(), desktop.height());
  if (!fits) {
    r.left = std::clamp(r.left, desktop.left, desktop.right - width);
    r.top = std::clamp(r.top, desktop.top, desktop.bottom - height);
  } else {
    if (r.left >= screen.width - icon.width) r.left = screen.width - icon.width;
    if (r.top >= screen.height - icon.height) r.top = screen.height - icon.height;
    r.left = std::max(r.left, desktop.left);
    r.top = std::max(r.top, desktop.top);
  }
  r.right = r.left + width;
  r.bottom = r.top + height;
  return r;
}

int TreePaneWidth(int stored, int windowWidth) { return stored == -1 ? windowWidth / 4 : stored; }

bool MaximizedFlag(bool maximized, bool minimized, bool restoresToMaximized) {
  return maximized || (minimized && restoresToMaximized);
}

WindowState LoadWindowState() {
  WindowState state;
  char text[256] = {};
  if (KvReadRegUserStr(kWindowStateSection, "Rect", text, sizeof text) && text[0]) state.rect = ParseRect(text);
  uint32_t value = 0;
  if (KvReadRegUserDword(kWindowStateSection, "Maximized", &value)) state.maximized = value == 1;
  if (KvReadRegUserDword(kWindowStateSection, "Splitter", &value)) state.splitter = static_cast<int32_t>(value);
  if (KvReadRegUserDword(kWindowStateSection, "ToolBar", &value)) state.toolBar = value != 0;
  if (KvReadRegUserDword(kWindowStateSection, "StatusBar", &value)) state.statusBar = value != 0;
  return state;
}

void SaveWindowState(const Rect& normal, bool maximized, int splitter, bool toolBar, bool statusBar) {
  KvWriteRegUserStr(kWindowStateSection, "Rect", FormatRect(normal).c_str());
  KvWriteRegUserDword(kWindowStateSection, "Maximized", maximized ? 1 : 0);
  KvWriteRegUserDword(kWindowStateSection, "Splitter", static_cast<uint32_t>(splitter));
  KvWriteRegUserDword(kWindowStateSection, "ToolBar", toolBar ? 1 : 0);
  KvWriteRegUserDword(kWindowStateSection, "StatusBar", statusBar ? 1 : 0);
}

}  // namespace korvo::manager
