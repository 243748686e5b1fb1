#include "tests/desktop/x_windows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace korvo::test {

namespace {

long WindowPid(Display* x, Window w) {
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  long pid = -1;
  if (XGetWindowProperty(x, w, XInternAtom(x, "_NET_WM_PID", False), 0, 1, False, XA_CARDINAL, &type, &format,
                         &count, &after, &data) == Success &&
      data && count == 1)
    pid = static_cast<long>(*reinterpret_cast<unsigned long*>(data));
  if (data) XFree(data);
  return pid;
}

void Find(Display* x, Window w, long pid, const std::string& title, std::vector<ScreenRect>& found) {
  XWindowAttributes a;
  if (!XGetWindowAttributes(x, w, &a) || a.map_state != IsViewable) return;
  if (WindowPid(x, w) == pid) {
    char* text = nullptr;
    bool match = title.empty();
    if (XFetchName(x, w, &text) && text) {
      match = match || title == text;
      XFree(text);
    }
    if (match) {
      int sx = 0, sy = 0;
      Window child;
      XTranslateCoordinates(x, w, DefaultRootWindow(x), 0, 0, &sx, &sy, &child);
      found.push_back({sx, sy, a.width, a.height});
      return;
    }
  }
  Window root, parent, *children = nullptr;
  unsigned n = 0;
  if (XQueryTree(x, w, &root, &parent, &children, &n)) {
    for (unsigned i = n; i-- > 0;) Find(x, children[i], pid, title, found);
    if (children) XFree(children);
  }
}

}  // namespace

std::vector<ScreenRect> ShownWindows(long pid, const std::string& title) {
  std::vector<ScreenRect> found;
  Display* x = XOpenDisplay(nullptr);
  if (!x) return found;
  // XQueryTree lists children bottom to top.
  Find(x, DefaultRootWindow(x), pid, title, found);
  XCloseDisplay(x);
  return found;
}

std::optional<ScreenRect> ShownWindow(long pid, const std::string& title) {
  auto found = ShownWindows(pid, title);
  if (found.empty()) return std::nullopt;
  return found.front();
}

}  // namespace korvo::test
