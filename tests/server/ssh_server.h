// A private OpenSSH server on 127.0.0.1 for tests and benchmarks of the remote
// pipe: its own host key, configuration and authorized key in a folder of the
// caller's, on a free port, with an ssh_config that names it by aliases (one
// per login). Sessions get the caller's server socket folder, as a server
// machine's own environment would. Needs root (sshd checks logins as root).
//
// The process becomes a subreaper, so the background ssh that keeps a
// shared connection, and sshd's per-connection processes, are its children;
// Stop ends and reaps every one of them.
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/process.h"
#include "platform/remote_pipe.h"

namespace korvo::test {

class SshServer {
 public:
  struct Login {
    std::string alias;  // the server name clients use
    std::string user;
    bool validKey = true;  // false: offers a key sshd does not know
    bool unreachable = false;  // true: a port where nothing listens
  };

  SshServer() = default;
  ~SshServer() { Stop(); }
  SshServer(const SshServer&) = delete;
  SshServer& operator=(const SshServer&) = delete;

  static bool Available() { return geteuid() == 0 && access("/usr/sbin/sshd", X_OK) == 0 && access("/usr/bin/ssh-keygen", X_OK) == 0; }

  // False with the reason in *why.
  bool Start(const std::filesystem::path& dir, const std::vector<Login>& logins, const std::string& pipeDir,
             std::string* why) {
    dir_ = dir;
    logins_ = logins;
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    std::filesystem::create_directories(dir);
    // sshd's privilege separation needs it; the system's sshd makes it too.
    mkdir("/run/sshd", 0755);
    for (const char* key : {"host_key", "client_key", "other_key"}) {
      if (!Quiet({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", (dir / key).string()})) {
        *why = "ssh-keygen failed";
        return false;
      }
    }
    Write(dir / "authorized_keys", Read(dir / "client_key.pub"));
    // sshd reads it as the login.
    chmod((dir / "authorized_keys").c_str(), 0644);
    chmod(dir.c_str(), 0755);
    Write(dir / "known_hosts", kHostAlias + std::string(" ") + Read(dir / "host_key.pub"));
    for (int attempt = 0; attempt < 5; ++attempt) {
      port_ = FreePort();
      WriteConfigs(pipeDir);
      if (Launch(why)) return true;
    }
    return false;
  }

  // The PATH of the sessions, as sshd would give its logins (before Start).
  void SetSessionPath(const std::string& path) { sessionPath_ = path; }

  std::string sshOptions() const { return "-F " + (dir_ / "ssh_config").string(); }
  std::string configPath() const { return (dir_ / "ssh_config").string(); }
  int port() const { return port_; }

  // Waits for a line of sshd's log holding the text; false when sshd ended.
  bool WaitForLog(const std::string& text) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return log_.find(text) != std::string::npos || logEnded_; });
    return log_.find(text) != std::string::npos;
  }
  std::string log() {
    std::lock_guard lock(mutex_);
    return log_;
  }

  // Ends the shared connections, sshd and everything it left, and reaps them.
  void Stop() {
    if (pid_ <= 0) {
      if (reader_.joinable()) reader_.join();
      return;
    }
    for (const auto& login : logins_) {
      Quiet({"ssh", "-F", configPath(), "-o", "ControlPath=" + platform::RemoteControlPath(), "-O", "exit", login.alias});
    }
    kill(pid_, SIGTERM);
    int status;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    // What is left (sshd's connection processes, a shared connection that
    // did not take the exit) was handed to this process: end and reap it.
    for (;;) {
      for (pid_t child : Children()) kill(child, SIGKILL);
      pid_t got = waitpid(-1, &status, 0);
      if (got < 0 && errno == ECHILD) break;
    }
    if (reader_.joinable()) reader_.join();
  }

 private:
  static constexpr const char* kHostAlias = "korvo-test-sshd";

  static std::string Read(const std::filesystem::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static void Write(const std::filesystem::path& p, const std::string& text) {
    std::ofstream out(p, std::ios::trunc);
    out << text;
    out.close();
    chmod(p.c_str(), 0600);
  }
  // Runs a tool with its output discarded; true when it exited 0.
  static bool Quiet(const std::vector<std::string>& argv) {
    int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    pid_t pid = platform::StartProcessWithStdio(argv, null, null, null);
    close(null);
    int code = -1;
    return pid > 0 && platform::WaitProcess(pid, code) && code == 0;
  }
  static int FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
  }
  static std::vector<pid_t> Children() {
    std::vector<pid_t> out;
    const std::string me = std::to_string(getpid());
    DIR* d = opendir("/proc");
    if (!d) return out;
    while (dirent* e = readdir(d)) {
      std::string stat = Read(std::string("/proc/") + e->d_name + "/stat");
      size_t close = stat.rfind(')');
      if (close == std::string::npos) continue;
      std::istringstream rest(stat.substr(close + 2));
      std::string state, ppid;
      rest >> state >> ppid;
      if (ppid == me) out.push_back(std::stoi(e->d_name));
    }
    closedir(d);
    return out;
  }

  void WriteConfigs(const std::string& pipeDir) {
    std::ostringstream sshd;
    sshd << "ListenAddress 127.0.0.1:" << port_ << "\n"
         << "HostKey " << (dir_ / "host_key").string() << "\n"
         << "PidFile none\n"
         << "AuthorizedKeysFile " << (dir_ / "authorized_keys").string() << "\n"
         << "StrictModes no\nUsePAM no\nPasswordAuthentication no\nKbdInteractiveAuthentication no\n"
         << "PermitRootLogin prohibit-password\nMaxStartups 100:30:200\nMaxSessions 100\n"
         << "SetEnv KORVO_PIPE_DIR=" << pipeDir << (sessionPath_.empty() ? "" : " PATH=" + sessionPath_) << "\n";
    Write(dir_ / "sshd_config", sshd.str());
    std::ostringstream ssh;
    for (const auto& login : logins_) {
      ssh << "Host " << login.alias << "\n"
          << "  HostName 127.0.0.1\n  Port " << (login.unreachable ? FreePort() : port_) << "\n  User " << login.user << "\n"
          << "  IdentityFile " << (dir_ / (login.validKey ? "client_key" : "other_key")).string() << "\n"
          << "  IdentitiesOnly yes\n  HostKeyAlias " << kHostAlias << "\n"
          << "  UserKnownHostsFile " << (dir_ / "known_hosts").string() << "\n"
          << "  GlobalKnownHostsFile /dev/null\n  StrictHostKeyChecking yes\n  LogLevel ERROR\n";
    }
    Write(dir_ / "ssh_config", ssh.str());
  }

  bool Launch(std::string* why) {
    int err[2];
    if (pipe2(err, O_CLOEXEC) != 0) return false;
    int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    const std::string config = (dir_ / "sshd_config").string();
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
      // A test that dies takes its sshd with it.
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (getppid() != parent) _exit(127);
      dup2(null, STDIN_FILENO);
      dup2(null, STDOUT_FILENO);
      dup2(err[1], STDERR_FILENO);
      execl("/usr/sbin/sshd", "/usr/sbin/sshd", "-D", "-e", "-f", config.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(null);
    close(err[1]);
    if (pid_ <= 0) {
      close(err[0]);
      *why = "sshd did not start";
      return false;
    }
    {
      std::lock_guard lock(mutex_);
      log_.clear();
      logEnded_ = false;
    }
    if (reader_.joinable()) reader_.join();
    reader_ = std::thread([this, fd = err[0]] {
      char buf[4096];
      for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        std::lock_guard lock(mutex_);
        if (n <= 0) {
          logEnded_ = true;
          changed_.notify_all();
          break;
        }
        log_.append(buf, static_cast<size_t>(n));
        changed_.notify_all();
      }
      close(fd);
    });
    if (WaitForLog("Server listening on 127.0.0.1 port")) return true;
    *why = "sshd: " + log();
    int status;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return false;
  }

  std::filesystem::path dir_;
  std::string sessionPath_;
  std::vector<Login> logins_;
  int port_ = 0;
  pid_t pid_ = -1;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string log_;
  bool logEnded_ = false;
};

// A throwaway login with a plain shell (no start-up files), for what only a
// login other than root shows; removed again with the object.
class ThrowawayLogin {
 public:
  ThrowawayLogin() : name_("korvo-ssh-" + std::to_string(getpid())) {
    // "*": no password, yet not a locked account, which sshd would refuse.
    made_ = platform::RunProcess({"useradd", "-M", "-N", "-d", "/nonexistent", "-s", "/bin/sh", "-p", "*", name_});
  }
  ~ThrowawayLogin() {
    if (made_) platform::RunProcess({"userdel", name_});
  }
  ThrowawayLogin(const ThrowawayLogin&) = delete;
  ThrowawayLogin& operator=(const ThrowawayLogin&) = delete;
  bool made() const { return made_; }
  const std::string& name() const { return name_; }

 private:
  std::string name_;
  bool made_ = false;
};

}  // namespace korvo::test
