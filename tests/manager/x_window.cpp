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

}  // namespace

bool TopLevelWindowShown(const std::string& name, long pid) {
  Display* x = XOpenDisplay(nullptr);
  if (!x) return false;
  bool found = false;
  Window root, parent, *children = nullptr;
  unsigned n = 0;
  if (XQueryTree(x, DefaultRootWindow(x), &root, &parent, &children, &n)) {
    for (unsigned i = 0; i < n && !found; ++i) {
      char* text = nullptr;
      XWindowAttributes a;
      if (XFetchName(x, children[i], &text) && text) {
        found = name == text && WindowPid(x, children[i]) == pid && XGetWindowAttributes(x, children[i], &a) &&
                a.map_state == IsViewable;
        XFree(text);
      }
    }
    if (children) XFree(children);
  }
  XCloseDisplay(x);
  return found;
}

}  // namespace korvo::test
