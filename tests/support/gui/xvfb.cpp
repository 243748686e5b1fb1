#include "tests/support/gui/xvfb.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace korvo::test {
namespace {

constexpr int kDisplayFd = 3;
constexpr auto kStartBound = std::chrono::seconds(60);

}  // namespace

Xvfb::Xvfb() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("Xvfb: pipe failed");
  pid_t parent = getpid();
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("Xvfb: fork failed");
  if (pid_ == 0) {
    // The server must not outlive a test program that crashes.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    dup2(fds[1], kDisplayFd);
    int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, STDIN_FILENO);
      dup2(null, STDOUT_FILENO);
      dup2(null, STDERR_FILENO);
    }
    execlp("Xvfb", "Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-screen", "0", "1280x1024x24", "-noreset",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  // Xvfb writes its display number and a line end once it accepts clients.
  std::string number;
  auto deadline = std::chrono::steady_clock::now() + kStartBound;
  bool done = false;
  while (!done && std::chrono::steady_clock::now() < deadline) {
    pollfd p{fds[0], POLLIN, 0};
    int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
    int r = poll(&p, 1, left > 0 ? left : 0);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    char c;
    ssize_t n = read(fds[0], &c, 1);
    if (n <= 0) break;
    if (c == '\n') done = true;
    else number += c;
  }
  close(fds[0]);
  if (!done || number.empty()) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    throw std::runtime_error("Xvfb did not start (is the package xvfb installed?)");
  }
  display_ = ":" + number;
  setenv("DISPLAY", display_.c_str(), 1);
  setenv("GDK_BACKEND", "x11", 1);
  setenv("NO_AT_BRIDGE", "1", 1);
  setenv("GSETTINGS_BACKEND", "memory", 1);
  unsetenv("WAYLAND_DISPLAY");
}

Xvfb::~Xvfb() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace korvo::test
