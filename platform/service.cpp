#include "platform/service.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "platform/lasterror.h"
#include "platform/process.h"

namespace korvo::platform {

namespace {

std::string UnitName(const std::string& serviceName) {
  std::string unit;
  for (char c : serviceName) unit += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return unit + ".service";
}

bool Systemctl(const std::vector<std::string>& args) {
  std::vector<std::string> argv{"systemctl", "--no-ask-password"};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(argv);
}

void DaemonReload() {
  if (SystemdManagesUnitDir()) Systemctl({"daemon-reload"});
}

// A value for ExecStart: quoted, with systemd's specifier and variable signs
// doubled.
std::string UnitQuote(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    if (c == '%' || c == '$') out += c;
    out += c;
  }
  return out + "\"";
}

bool HasControlChars(const std::string& s) {
  for (unsigned char c : s)
    if (c < 0x20 || c == 0x7F) return true;
  return false;
}

// The caller's KORVO_* variables as Environment= lines (quoted, specifier
// signs doubled; systemd expands no variables there); false when one holds
// a control character, which no unit line can carry.
bool EnvironmentLines(std::string& lines) {
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    if (entry.rfind("KORVO_", 0) != 0 || entry.find('=') == std::string::npos) continue;
    if (HasControlChars(entry)) return false;
    std::string quoted = "\"";
    for (char c : entry) {
      if (c == '"' || c == '\\') quoted += '\\';
      if (c == '%') quoted += c;
      quoted += c;
    }
    lines += "Environment=" + quoted + "\"\n";
  }
  return true;
}

// The control signals of the process, read from a signalfd on a thread of its
// own, so the handlers may lock and log like any other code.
class ControlThread {
 public:
  ~ControlThread() { Stop(); }
  // Blocks the signals in the calling thread (threads started later inherit
  // that) and starts the thread; calls on().
  bool Start(const std::vector<int>& signals, void (*on)(int)) {
    std::lock_guard<std::mutex> lock(m_);
    if (thread_.joinable()) {
      SetLastError(EBUSY);
      return false;
    }
    sigset_t set;
    sigemptyset(&set);
    for (int s : signals) sigaddset(&set, s);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    sfd_ = signalfd(-1, &set, SFD_CLOEXEC);
    efd_ = eventfd(0, EFD_CLOEXEC);
    if (sfd_ < 0 || efd_ < 0) {
      SetLastErrorFromErrno();
      CloseFds();
      return false;
    }
    on_ = on;
    thread_ = std::thread([this] { Run(); });
    return true;
  }

  void Stop() {
    std::lock_guard<std::mutex> lock(m_);
    if (!thread_.joinable()) return;
    uint64_t one = 1;
    (void)!write(efd_, &one, sizeof one);
    thread_.join();
    CloseFds();
  }

 private:
  void Run() {
    pollfd fds[2] = {{sfd_, POLLIN, 0}, {efd_, POLLIN, 0}};
    for (;;) {
      if (poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (fds[1].revents) return;
      signalfd_siginfo info;
      if (read(sfd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) on_(static_cast<int>(info.ssi_signo));
    }
  }

  void CloseFds() {
    if (sfd_ >= 0) close(sfd_);
    if (efd_ >= 0) close(efd_);
    sfd_ = efd_ = -1;
  }

  std::mutex m_;
  std::thread thread_;
  int sfd_ = -1;
  int efd_ = -1;
  void (*on_)(int) = nullptr;
};

ControlThread gControls;
std::mutex gHandlersMutex;
ServiceControlHandler gServiceHandler = nullptr;
ConsoleControlHandler gConsoleHandler = nullptr;
bool gDispatching = false;

// The event is left to the default action: the signal is raised again with
// its default disposition and unblocked on this thread.
void DefaultAction(int sig) {
  signal(sig, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  raise(sig);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

void OnServiceSignal(int sig) {
  ServiceControlHandler handler;
  {
    std::lock_guard<std::mutex> lock(gHandlersMutex);
    handler = gServiceHandler;
  }
  uint32_t control = sig == SIGTERM ? kServiceControlStop : sig == SIGUSR1 ? kServiceControlPause : kServiceControlContinue;
  if (handler) handler(control);
  else if (sig == SIGTERM) DefaultAction(sig);
}

void OnConsoleSignal(int sig) {
  ConsoleControlHandler handler;
  {
    std::lock_guard<std::mutex> lock(gHandlersMutex);
    handler = gConsoleHandler;
  }
  if (!handler || !handler(sig == SIGINT ? kCtrlCEvent : kCtrlBreakEvent)) DefaultAction(sig);
}

}  // namespace

std::string ServiceUnitDir() {
  const char* dir = std::getenv("KORVO_SYSTEMD_DIR");
  return dir && *dir ? dir : "/etc/systemd/system";
}

std::string ServiceUnitPath(const std::string& serviceName) { return ServiceUnitDir() + "/" + UnitName(serviceName); }

bool SystemdManagesUnitDir() {
  if (sd_booted() <= 0) return false;
  std::error_code ec;
  auto dir = std::filesystem::weakly_canonical(ServiceUnitDir(), ec);
  if (ec) return false;
  for (const char* known : {"/etc/systemd/system", "/run/systemd/system", "/lib/systemd/system", "/usr/lib/systemd/system"})
    if (dir == known) return true;
  return false;
}

bool OpenServiceManager() {
  if (access(ServiceUnitDir().c_str(), W_OK | X_OK) != 0) {
    SetLastErrorFromErrno();
    return false;
  }
  return true;
}

bool CreateService(const std::string& serviceName, const std::string& displayName, const std::string& programPath,
                   const char* account, const char* /*password*/) {
  std::string user = account ? account : "";
  if (auto slash = user.rfind('\\'); slash != std::string::npos) user.erase(0, slash + 1);
  std::string environment;
  if (serviceName.empty() || serviceName.find('/') != std::string::npos || HasControlChars(displayName) ||
      HasControlChars(programPath) || HasControlChars(user) || user.find_first_of(" \"'") != std::string::npos ||
      !EnvironmentLines(environment)) {
    SetLastError(EINVAL);
    return false;
  }
  // A descriptor for every modem port, client session and open file: room
  // for 128 modems and a few thousand clients (the server raises its soft
  // limit to this).
  std::string text = "[Unit]\nDescription=" + displayName + "\nAfter=network.target\n\n[Service]\nType=notify\n"
                     "NotifyAccess=main\nLimitNOFILE=" + std::to_string(kServiceDescriptorLimit) +
                     "\nExecStart=" + UnitQuote(programPath) + "\n";
  if (!user.empty()) text += "User=" + user + "\n";
  text += environment;
  text += "\n[Install]\nWantedBy=multi-user.target\n";

  const std::string path = ServiceUnitPath(serviceName);
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    SetLastErrorFromErrno();
    return false;
  }
  bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ok = (fsync(fd) == 0) && ok;
  if (close(fd) != 0) ok = false;
  if (!ok) {
    SetLastErrorFromErrno();
    unlink(path.c_str());
    return false;
  }
  DaemonReload();
  return true;
}

bool OpenService(const std::string& serviceName) {
  if (access(ServiceUnitPath(serviceName).c_str(), F_OK) != 0) {
    SetLastErrorFromErrno();
    return false;
  }
  return true;
}

std::string ServiceWantsLinkPath(const std::string& serviceName) {
  return ServiceUnitDir() + "/" + kServiceWantedBy + ".wants/" + UnitName(serviceName);
}

bool EnableService(const std::string& serviceName) {
  if (!OpenService(serviceName)) return false;
  if (SystemdManagesUnitDir()) {
    if (Systemctl({"enable", UnitName(serviceName)})) return true;
    SetLastError(EIO);
    return false;
  }
  const std::string link = ServiceWantsLinkPath(serviceName);
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(link).parent_path(), ec);
  if (ec) {
    SetLastError(static_cast<uint32_t>(ec.value()));
    return false;
  }
  // An old link (perhaps to a unit elsewhere) gives way to this one.
  unlink(link.c_str());
  if (symlink(ServiceUnitPath(serviceName).c_str(), link.c_str()) != 0) {
    SetLastErrorFromErrno();
    return false;
  }
  return true;
}

bool DisableService(const std::string& serviceName) {
  if (SystemdManagesUnitDir()) {
    if (Systemctl({"disable", UnitName(serviceName)})) return true;
    SetLastError(EIO);
    return false;
  }
  const std::string link = ServiceWantsLinkPath(serviceName);
  if (unlink(link.c_str()) != 0 && errno != ENOENT) {
    SetLastErrorFromErrno();
    return false;
  }
  // The .wants folder goes with its last link, as systemctl leaves it.
  rmdir(std::filesystem::path(link).parent_path().c_str());
  return true;
}

namespace {

bool UnitJob(const char* verb, const std::string& serviceName) {
  if (!SystemdManagesUnitDir()) {
    SetLastError(ENOTSUP);
    return false;
  }
  if (Systemctl({verb, UnitName(serviceName)})) return true;
  SetLastError(EIO);
  return false;
}

}  // namespace

bool StartServiceUnit(const std::string& serviceName) { return UnitJob("start", serviceName); }
bool StopServiceUnit(const std::string& serviceName) { return UnitJob("stop", serviceName); }

bool ControlServiceStop(const std::string& serviceName) {
  if (!SystemdManagesUnitDir() || QueryServiceState(serviceName) == kServiceStopped) {
    SetLastError(ESRCH);
    return false;
  }
  return Systemctl({"stop", "--no-block", UnitName(serviceName)});
}

uint32_t QueryServiceState(const std::string& serviceName) {
  if (!SystemdManagesUnitDir()) return kServiceStopped;
  std::string out;
  RunProcessOutput({"systemctl", "show", "-p", "ActiveState", "--value", UnitName(serviceName)}, out);
  if (out.rfind("active", 0) == 0 || out.rfind("reloading", 0) == 0) return kServiceRunning;
  if (out.rfind("activating", 0) == 0) return kServiceStartPending;
  if (out.rfind("deactivating", 0) == 0) return kServiceStopPending;
  return kServiceStopped;
}

bool DeleteService(const std::string& serviceName) {
  if (unlink(ServiceUnitPath(serviceName).c_str()) != 0) {
    SetLastErrorFromErrno();
    return false;
  }
  DaemonReload();
  return true;
}

bool StartServiceCtrlDispatcher(const std::string& serviceName, ServiceMainFunction serviceMain) {
  if (!std::getenv("NOTIFY_SOCKET") && !std::getenv("INVOCATION_ID")) {
    SetLastError(ENOTSUP);
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(gHandlersMutex);
    gDispatching = true;
  }
  if (!gControls.Start({SIGTERM, SIGUSR1, SIGUSR2}, OnServiceSignal)) return false;
  std::string name = serviceName;
  char* argv[] = {name.data(), nullptr};
  serviceMain(1, argv);
  gControls.Stop();
  std::lock_guard<std::mutex> lock(gHandlersMutex);
  gDispatching = false;
  gServiceHandler = nullptr;
  return true;
}

bool RegisterServiceCtrlHandler(const std::string&, ServiceControlHandler handler) {
  std::lock_guard<std::mutex> lock(gHandlersMutex);
  if (!gDispatching) {
    SetLastError(ENOTSUP);
    return false;
  }
  gServiceHandler = handler;
  return true;
}

bool SetServiceStatus(const ServiceStatus& status) {
  std::string text;
  switch (status.currentState) {
    case kServiceStartPending: text = "STATUS=Starting"; break;
    case kServiceRunning: text = "READY=1\nSTATUS=Running"; break;
    case kServiceStopPending: text = "STOPPING=1\nSTATUS=Stopping"; break;
    case kServicePaused: text = "STATUS=Paused"; break;
    case kServiceStopped: text = "STATUS=Stopped"; break;
    default: text = "STATUS=Pending"; break;
  }
  if (status.waitHint) text += "\nEXTEND_TIMEOUT_USEC=" + std::to_string(uint64_t{status.waitHint} * 1000);
  if (status.currentState == kServiceStopped && status.win32ExitCode) text += "\nERRNO=" + std::to_string(status.win32ExitCode);
  int rc = sd_notify(0, text.c_str());
  if (rc < 0) {
    SetLastError(static_cast<uint32_t>(-rc));
    return false;
  }
  return true;
}

bool SetConsoleCtrlHandler(ConsoleControlHandler handler, bool add) {
  if (!add) {
    gControls.Stop();
    std::lock_guard<std::mutex> lock(gHandlersMutex);
    gConsoleHandler = nullptr;
    return true;
  }
  {
    std::lock_guard<std::mutex> lock(gHandlersMutex);
    gConsoleHandler = handler;
  }
  return gControls.Start({SIGINT, SIGQUIT}, OnConsoleSignal);
}

}  // namespace korvo::platform
