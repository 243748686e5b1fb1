#include "tests/manager/x_window.h"

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

bool Named(Display* x, Window w, const std::string& name, long pid) {
  char* text = nullptr;
  bool named = false;
  if (XFetchName(x, w, &text) && text) {
    named = name == text && WindowPid(x, w) == pid;
    XFree(text);
  }
  return named;
}

// The viewable window of that name and pid below `under`, and the child of
// the root it lies in; false when there is none.
bool Find(Display* x, Window under, Window top, const std::string& name, long pid, Window& found, Window& outer) {
  Window root, parent, *children = nullptr;
  unsigned n = 0;
  if (!XQueryTree(x, under, &root, &parent, &children, &n)) return false;
  bool hit = false;
  for (unsigned i = 0; i < n && !hit; ++i) {
    const Window child = children[i];
    const Window childTop = top ? top : child;
    XWindowAttributes a;
    if (!XGetWindowAttributes(x, child, &a) || a.map_state != IsViewable) continue;
    if (Named(x, child, name, pid)) {
      found = child;
      outer = childTop;
      hit = true;
    } else {
      hit = Find(x, child, childTop, name, pid, found, outer);
    }
  }
  if (children) XFree(children);
  return hit;
}

}  // namespace

bool TopLevelWindowShown(const std::string& name, long pid) { return ShownWindowBox(name, pid).has_value(); }

std::optional<ScreenBox> ShownWindowBox(const std::string& name, long pid) {
  Display* x = XOpenDisplay(nullptr);
  if (!x) return std::nullopt;
  std::optional<ScreenBox> box;
  Window found = 0, outer = 0;
  if (Find(x, DefaultRootWindow(x), 0, name, pid, found, outer)) {
    XWindowAttributes a;
    if (XGetWindowAttributes(x, outer, &a)) box = ScreenBox{a.x, a.y, a.width + 2 * a.border_width, a.height + 2 * a.border_width};
  }
  XCloseDisplay(x);
  return box;
}

}  // namespace korvo::test
