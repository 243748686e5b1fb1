#include "platform/local_socket.h"

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <strings.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/lasterror.h"

namespace korvo::platform {

namespace {

bool MakeAddress(const std::string& path, sockaddr_un* addr) {
  std::memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr->sun_path) {
    SetLastError(ENAMETOOLONG);
    return false;
  }
  std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return true;
}

Handle NewSocket() {
  Handle fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) SetLastErrorFromErrno();
  return fd;
}

// One connect attempt; waitMs 0 does not wait for a busy server.
Handle TryConnect(const sockaddr_un& addr, uint32_t waitMs) {
  Handle fd = NewSocket();
  if (fd < 0) return fd;
  if (waitMs == 0) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  } else {
    // A Unix socket connect waits for backlog room up to the send time-out.
    timeval tv{static_cast<time_t>(waitMs / 1000), static_cast<suseconds_t>((waitMs % 1000) * 1000)};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  }
  int r;
  do r = connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  while (r < 0 && errno == EINTR);
  if (r == 0) {
    if (waitMs == 0) {
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    } else {
      timeval none{0, 0};
      setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &none, sizeof none);
    }
    return fd;
  }
  int err = errno;
  close(fd);
  SetLastError(err == EAGAIN || err == EWOULDBLOCK || err == EINPROGRESS ? kErrorPipeBusy : static_cast<uint32_t>(err));
  return kInvalidHandle;
}

}  // namespace

std::string LocalSocketDir() {
  const char* dir = std::getenv("KORVO_PIPE_DIR");
  return dir && *dir ? dir : "/run/korvo";
}

std::string ComputerName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

bool IsThisMachine(const char* server) {
  if (!server) return false;
  if (std::strcmp(server, ".") == 0) return true;
  std::string me = ComputerName();
  if (me.empty() || !*server) return false;
  if (strcasecmp(server, me.c_str()) == 0) return true;
  std::string shortName = me.substr(0, me.find('.'));
  return strcasecmp(server, shortName.c_str()) == 0;
}

std::string PipeNameToSocketPath(const char* pipeName) {
  // "\\" server "\" "Pipe" "\" name; "Pipe" in any letter case.
  std::string s = pipeName ? pipeName : "";
  if (s.size() < 3 || s[0] != '\\' || s[1] != '\\') {
    SetLastError(EINVAL);
    return {};
  }
  size_t serverEnd = s.find('\\', 2);
  if (serverEnd == std::string::npos || s.size() < serverEnd + 6 || strncasecmp(s.c_str() + serverEnd + 1, "pipe\\", 5) != 0) {
    SetLastError(EINVAL);
    return {};
  }
  std::string server = s.substr(2, serverEnd - 2);
  std::string name = s.substr(serverEnd + 6);
  if (name.empty() || name.find('/') != std::string::npos || name.find('\\') != std::string::npos) {
    SetLastError(EINVAL);
    return {};
  }
  if (server != ".") {
    SetLastError(kErrorHostUnreachable);
    return {};
  }
  return LocalSocketDir() + "/" + name;
}

Handle LocalSocketConnect(const std::string& path, uint32_t busyWaitMs) {
  sockaddr_un addr;
  if (!MakeAddress(path, &addr)) return kInvalidHandle;
  Handle fd = TryConnect(addr, 0);
  // Busy: the waiting connect is the wait and the retry in one; when it runs
  // out the server stayed busy for the whole wait.
  if (fd < 0 && GetLastError() == kErrorPipeBusy && busyWaitMs > 0) {
    fd = TryConnect(addr, busyWaitMs);
    if (fd < 0 && GetLastError() == kErrorPipeBusy) SetLastError(kErrorTimeout);
  }
  return fd;
}

bool LocalSocketPeer(Handle h, uint32_t* uid, std::string* userName) {
  ucred cred{};
  socklen_t len = sizeof cred;
  if (getsockopt(h, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) {
    SetLastErrorFromErrno();
    return false;
  }
  if (uid) *uid = cred.uid;
  if (userName) {
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* found = nullptr;
    int r = getpwuid_r(cred.uid, &pw, buf.data(), buf.size(), &found);
    if (r != 0 || !found) {
      SetLastError(r != 0 ? static_cast<uint32_t>(r) : kErrorFileNotFound);
      return false;
    }
    *userName = found->pw_name;
  }
  return true;
}

LocalListener::~LocalListener() { Close(); }

bool LocalListener::Listen(const std::string& path, int backlog, uint32_t socketMode) {
  Close();
  sockaddr_un addr;
  if (!MakeAddress(path, &addr)) return false;
  std::string dir = path.substr(0, path.rfind('/'));
  if (!dir.empty()) {
    if (mkdir(dir.c_str(), 0755) == 0) {
      // Every local user must reach the socket, whatever the umask.
      chmod(dir.c_str(), 0755);
    } else if (errno != EEXIST) {
      SetLastErrorFromErrno();
      return false;
    }
  }
  Handle fd = NewSocket();
  if (fd < 0) return false;
  int r = bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  if (r != 0 && errno == EADDRINUSE) {
    // Only a file that nobody listens on may be taken over.
    // Non-blocking: a live server with a full backlog must not hold us up.
    Handle probe = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    bool stale = probe >= 0 && connect(probe, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 && errno == ECONNREFUSED;
    if (probe >= 0) close(probe);
    if (stale) {
      unlink(path.c_str());
      r = bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    } else {
      errno = EADDRINUSE;
    }
  }
  if (r != 0 || listen(fd, backlog) != 0) {
    SetLastErrorFromErrno();
    close(fd);
    return false;
  }
  chmod(path.c_str(), socketMode);
  struct stat st;
  inode_ = stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
  Handle wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake < 0) {
    SetLastErrorFromErrno();
    close(fd);
    unlink(path.c_str());
    return false;
  }
  std::lock_guard lock(interruptMutex_);
  fd_ = fd;
  wake_ = wake;
  path_ = path;
  return true;
}

Handle LocalListener::Accept() {
  if (fd_ < 0) {
    SetLastError(EBADF);
    return kInvalidHandle;
  }
  for (;;) {
    pollfd p[2] = {{fd_, POLLIN, 0}, {wake_, POLLIN, 0}};
    int r = poll(p, 2, -1);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      SetLastErrorFromErrno();
      return kInvalidHandle;
    }
    if (p[1].revents) {
      SetLastError(kErrorOperationAborted);
      return kInvalidHandle;
    }
    Handle c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (c >= 0) return c;
    // The client may have given up between poll and accept.
    if (errno == EINTR || errno == EAGAIN || errno == ECONNABORTED) continue;
    SetLastErrorFromErrno();
    return kInvalidHandle;
  }
}

void LocalListener::Interrupt() {
  std::lock_guard lock(interruptMutex_);
  if (wake_ < 0) return;
  uint64_t one = 1;
  ssize_t n = write(wake_, &one, sizeof one);
  (void)n;
}

void LocalListener::Close() {
  std::lock_guard lock(interruptMutex_);
  if (fd_ >= 0) {
    close(fd_);
    fd_ = kInvalidHandle;
    // Remove the file only when it is still ours, not a later server's.
    struct stat st;
    if (!path_.empty() && stat(path_.c_str(), &st) == 0 && st.st_ino == inode_) unlink(path_.c_str());
  }
  if (wake_ >= 0) {
    close(wake_);
    wake_ = kInvalidHandle;
  }
  path_.clear();
}

}  // namespace korvo::platform
