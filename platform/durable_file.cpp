#include "platform/durable_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/lasterror.h"

namespace korvo::platform {

namespace {

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool ReplaceFileDurably(const std::string& path, std::string_view bytes) {
  // Unique per process and thread-safe enough: callers replace one file under
  // their own lock, and O_EXCL refuses a leftover of a crashed run.
  std::string tmp = path + ".new";
  ::unlink(tmp.c_str());
  // The replaced file is its owner's alone, whatever the umask.
  Fd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (fd.get() < 0) {
    SetLastError(static_cast<uint32_t>(errno));
    return false;
  }
  bool ok = WriteAll(fd.get(), bytes) && ::fsync(fd.get()) == 0;
  int err = ok ? 0 : errno;
  if (::close(fd.release()) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && ::rename(tmp.c_str(), path.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink(tmp.c_str());
    SetLastError(static_cast<uint32_t>(err));
    return false;
  }
  // The rename itself reaches the disk with the folder.
  Fd dir(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
  return true;
}

bool SyncFile(const std::string& path) {
  if (!SyncFileOnly(path)) return false;
  SyncFolder(FolderOf(path));
  return true;
}

bool SyncFileOnly(const std::string& path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0 || ::fsync(fd.get()) != 0) {
    SetLastError(static_cast<uint32_t>(errno));
    return false;
  }
  return true;
}

bool SyncFolder(const std::string& folder) {
  Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0 || ::fsync(dir.get()) != 0) {
    SetLastError(static_cast<uint32_t>(errno));
    return false;
  }
  return true;
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
  bytes.clear();
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    SetLastError(static_cast<uint32_t>(errno));
    return false;
  }
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      SetLastError(static_cast<uint32_t>(errno));
      return false;
    }
    if (n == 0) return true;
    bytes.append(buf, static_cast<size_t>(n));
  }
}

}  // namespace korvo::platform
