#include "tests/support/gui/window_manager.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace korvo::test {
namespace {

constexpr auto kStartBound = std::chrono::seconds(60);

// The window the manager names in the root window's _NET_SUPPORTING_WM_CHECK,
// 0 while there is none.
Window SupportingWindow(Display* display) {
  Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
  Atom type = 0;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  Window found = 0;
  if (XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False, XA_WINDOW, &type, &format, &items,
                         &after, &data) == Success &&
      type == XA_WINDOW && format == 32 && items == 1 && data)
    found = *reinterpret_cast<Window*>(data);
  if (data) XFree(data);
  return found;
}


std::string Title(Display* display, Window window) {
  Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  Atom type = 0;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  std::string title;
  if (XGetWindowProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False), 0, 1024, False, utf8, &type,
                         &format, &items, &after, &data) == Success &&
      data && format == 8)
    title.assign(reinterpret_cast<char*>(data), items);
  if (data) XFree(data);
  if (title.empty()) {
    char* name = nullptr;
    if (XFetchName(display, window, &name) && name) title = name;
    if (name) XFree(name);
  }
  return title;
}

}  // namespace

WindowManager::WindowManager() {
  const char* tmp = std::getenv("TMPDIR");
  std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/korvo-wm-XXXXXX";
  if (!mkdtemp(templ.data())) throw std::runtime_error("window manager: mkdtemp failed");
  home_ = templ;
  std::string home = home_.string();
  std::string config = home + "/config", cache = home + "/cache", data = home + "/data";

  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    stop();
    throw std::runtime_error("window manager: no X display to manage");
  }
  // Asked before the start, so the property's change cannot slip past.
  XSelectInput(display, DefaultRootWindow(display), PropertyChangeMask);
  XSync(display, False);

  pid_t parent = getpid();
  pid_ = fork();
  if (pid_ < 0) {
    XCloseDisplay(display);
    stop();
    throw std::runtime_error("window manager: fork failed");
  }
  if (pid_ == 0) {
    // The manager must not outlive a test program that crashes.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, STDIN_FILENO);
      dup2(null, STDOUT_FILENO);
      dup2(null, STDERR_FILENO);
    }
    execlp("openbox", "openbox", "--sm-disable", static_cast<char*>(nullptr));
    _exit(127);
  }

  auto deadline = std::chrono::steady_clock::now() + kStartBound;
  bool ready = SupportingWindow(display) != 0;
  while (!ready && std::chrono::steady_clock::now() < deadline) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;  // reaped: its number is no longer ours to signal
      break;
    }
    if (!XPending(display)) {
      pollfd p{ConnectionNumber(display), POLLIN, 0};
      // Short turns only to notice a manager that died before claiming the screen.
      poll(&p, 1, 200);
    }
    while (XPending(display)) {
      XEvent event;
      XNextEvent(display, &event);
    }
    ready = SupportingWindow(display) != 0;
  }
  XCloseDisplay(display);
  if (!ready) {
    stop();
    throw std::runtime_error("Openbox did not start (is the package openbox installed?)");
  }
}

WindowManager::~WindowManager() { stop(); }

void WindowManager::stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }
  if (!home_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(home_, ec);
    home_.clear();
  }
}

bool WindowManagerRunning() {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return false;
  bool running = SupportingWindow(display) != 0;
  XCloseDisplay(display);
  return running;
}

}  // namespace korvo::test

namespace korvo::test {

std::vector<std::string> ManagedWindowsBottomToTop() {
  std::vector<std::string> titles;
  Display* display = XOpenDisplay(nullptr);
  if (!display) return titles;
  Atom type = 0;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  if (SupportingWindow(display) &&
      XGetWindowProperty(display, DefaultRootWindow(display), XInternAtom(display, "_NET_CLIENT_LIST_STACKING", False),
                         0, 4096, False, XA_WINDOW, &type, &format, &items, &after, &data) == Success &&
      data && format == 32) {
    auto* windows = reinterpret_cast<Window*>(data);
    for (unsigned long i = 0; i < items; ++i) titles.push_back(Title(display, windows[i]));
  }
  if (data) XFree(data);
  XCloseDisplay(display);
  return titles;
}

}  // namespace korvo::test
