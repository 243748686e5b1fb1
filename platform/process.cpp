#include "platform/process.h"

#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/lasterror.h"

extern char** environ;

namespace korvo::platform {

namespace {

// A started program begins with no signal blocked: the service keeps its
// control signals blocked in every thread (they are read from a signalfd),
// and a child would otherwise inherit that and ignore SIGTERM and Ctrl+C.
class SpawnAttributes {
 public:
  SpawnAttributes() {
    posix_spawnattr_init(&attr_);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr_, &none);
    posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGMASK);
  }
  ~SpawnAttributes() { posix_spawnattr_destroy(&attr_); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  const posix_spawnattr_t* get() const { return &attr_; }

 private:
  posix_spawnattr_t attr_;
};

}  // namespace

pid_t StartProcess(const std::vector<std::string>& argv) { return StartProcessWithStdio(argv, -1, -1, -1); }

pid_t StartProcessWithStdio(const std::vector<std::string>& argv, int in, int out, int err) {
  if (argv.empty()) {
    SetLastError(EINVAL);
    return -1;
  }
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  SpawnAttributes attr;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const int fds[3] = {in, out, err};
  for (int target = 0; target < 3; ++target)
    if (fds[target] >= 0) posix_spawn_file_actions_adddup2(&actions, fds[target], target);
  int rc = posix_spawnp(&pid, args[0], &actions, attr.get(), args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    SetLastError(static_cast<uint32_t>(rc));
    return -1;
  }
  return pid;
}

bool WaitProcess(pid_t pid, int& exitCode) {
  int status = 0;
  pid_t got;
  while ((got = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
  }
  if (got != pid) {
    SetLastErrorFromErrno();
    return false;
  }
  exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return true;
}

bool RunProcess(const std::vector<std::string>& argv) {
  pid_t pid = StartProcess(argv);
  int code = -1;
  return pid > 0 && WaitProcess(pid, code) && code == 0;
}

bool TerminateProcess(pid_t pid) {
  if (pid <= 0) {
    SetLastError(EINVAL);
    return false;
  }
  kill(pid, SIGKILL);
  int code = 0;
  return WaitProcess(pid, code);
}

bool RunProcessOutput(const std::vector<std::string>& argv, std::string& out) {
  out.clear();
  if (argv.empty()) {
    SetLastError(EINVAL);
    return false;
  }
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    SetLastErrorFromErrno();
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  SpawnAttributes attr;
  int rc = posix_spawnp(&pid, args[0], &actions, attr.get(), args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    SetLastError(static_cast<uint32_t>(rc));
    return false;
  }
  char buf[4096];
  for (;;) {
    ssize_t n = read(fds[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  close(fds[0]);
  int code = -1;
  return WaitProcess(pid, code) && code == 0;
}

std::string ModuleFileName() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n < 0) {
    SetLastErrorFromErrno();
    return {};
  }
  return std::string(buf, static_cast<size_t>(n));
}

unsigned long RaiseDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
    SetLastErrorFromErrno();
    return 0;
  }
  if (limit.rlim_cur != limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
      limit = raised;
    else
      SetLastErrorFromErrno();
  }
  return static_cast<unsigned long>(limit.rlim_cur);
}

void LimitMemoryPools(int pools) { mallopt(M_ARENA_MAX, pools); }

}  // namespace korvo::platform
