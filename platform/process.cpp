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
#include <cstring>

#include <grp.h>

#include "platform/accounts.h"

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

pid_t StartProcessAs(const std::vector<std::string>& argv, const Invoker& user) {
  if (argv.empty() || argv[0].find('/') == std::string::npos) {
    SetLastError(EINVAL);
    return -1;
  }
  // Everything the child needs is made here: between fork and exec only
  // async-signal-safe calls are allowed (the caller may run other threads).
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> envText;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    if (entry.rfind("HOME=", 0) != 0 && entry.rfind("USER=", 0) != 0 && entry.rfind("LOGNAME=", 0) != 0)
      envText.push_back(entry);
  }
  envText.push_back("HOME=" + user.home);
  envText.push_back("USER=" + user.name);
  envText.push_back("LOGNAME=" + user.name);
  std::vector<char*> env;
  for (auto& e : envText) env.push_back(e.data());
  env.push_back(nullptr);
  int count = 64;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  if (getgrouplist(user.name.c_str(), user.gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<size_t>(count));
    if (getgrouplist(user.name.c_str(), user.gid, groups.data(), &count) < 0) count = 0;
  }
  if (count <= 0) {
    groups.assign(1, user.gid);
    count = 1;
  }
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) {
    SetLastErrorFromErrno();
    return -1;
  }
  const pid_t pid = fork();
  if (pid < 0) {
    SetLastErrorFromErrno();
    close(report[0]);
    close(report[1]);
    return -1;
  }
  if (pid == 0) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    int error = 0;
    if (setgroups(static_cast<size_t>(count), groups.data()) != 0 || setgid(user.gid) != 0 ||
        setuid(user.uid) != 0)
      error = errno;
    if (!error) {
      if (chdir(user.home.c_str()) != 0 && chdir("/") != 0) error = errno;
    }
    if (!error) {
      execve(args[0], args.data(), env.data());
      error = errno;
    }
    [[maybe_unused]] ssize_t n = write(report[1], &error, sizeof error);
    _exit(127);
  }
  close(report[1]);
  int error = 0;
  ssize_t got;
  while ((got = read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
  }
  close(report[0]);
  if (got == static_cast<ssize_t>(sizeof error)) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    SetLastError(static_cast<uint32_t>(error));
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
