// Mounts of a test's own (files bound over system ones, a /dev of its own) in
// a private mount namespace of a forked child, so that nothing else on the
// machine sees them. Making one needs root, and a chroot whose root is no
// mount point cannot make its root private: there the tests skip and say why.
#pragma once

#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace korvo::test {

// For a forked child only: enters a mount namespace of its own whose mounts
// stay in it. "" when it did, else the step that failed and its error.
inline std::string EnterPrivateMounts() {
  if (unshare(CLONE_NEWNS) != 0) return std::string("unshare(CLONE_NEWNS): ") + std::strerror(errno);
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return std::string("making / a private mount: ") + std::strerror(errno);
  return "";
}

// Why no child can enter private mounts here, or "" when it can.
inline std::string PrivateMountsProblem() {
  if (geteuid() != 0) return "a private mount namespace needs root";
  int fds[2];
  if (pipe(fds) != 0) return std::string("pipe: ") + std::strerror(errno);
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return "fork failed";
  }
  if (pid == 0) {
    close(fds[0]);
    const std::string why = EnterPrivateMounts();
    (void)!write(fds[1], why.data(), why.size());
    _exit(0);
  }
  close(fds[1]);
  std::string why;
  char buf[256];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) why.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return why;
}

}  // namespace korvo::test
