#include "platform/durable_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
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

std::atomic<DiskFaultHook> gFaultHook{nullptr};

// The hook's error for the step, set as errno; 0 when the step may run.
int Fault(DiskStep step, const std::string& path) {
  const DiskFaultHook hook = gFaultHook.load();
  const int err = hook ? hook(step, path) : 0;
  if (err) errno = err;
  return err;
}

bool RawWrite(int fd, std::string_view bytes) {
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

bool WriteAll(int fd, const std::string& path, std::string_view bytes) {
  if (const int err = Fault(DiskStep::kWrite, path)) {
    RawWrite(fd, bytes.substr(0, bytes.size() / 2));
    errno = err;
    return false;
  }
  return RawWrite(fd, bytes);
}

int Flush(int fd, const std::string& path, bool dataOnly) {
  if (Fault(DiskStep::kFlush, path)) return -1;
  return dataOnly ? ::fdatasync(fd) : ::fsync(fd);
}

}  // namespace

void SetDiskFaultHook(DiskFaultHook hook) { gFaultHook = hook; }

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
  Fd fd(Fault(DiskStep::kCreate, tmp) ? -1 : ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (fd.get() < 0) {
    SetLastError(static_cast<uint32_t>(errno));
    return false;
  }
  bool ok = WriteAll(fd.get(), tmp, bytes) && Flush(fd.get(), tmp, false) == 0;
  int err = ok ? 0 : errno;
  if (::close(fd.release()) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && (Fault(DiskStep::kRename, path) || ::rename(tmp.c_str(), path.c_str()) != 0)) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink(tmp.c_str());
    SetLastError(static_cast<uint32_t>(err));
    return false;
  }
  // The rename itself reaches the disk with the folder: until then a crash
  // may bring the old file back.
  return SyncFolder(FolderOf(path));
}

bool SyncFile(const std::string& path) {
  return SyncFileOnly(path) && SyncFolder(FolderOf(path));
}

bool SyncFileOnly(const std::string& path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0 || Flush(fd.get(), path, false) != 0) {
    SetLastError(static_cast<uint32_t>(errno));
    return false;
  }
  return true;
}

bool SyncFolder(const std::string& folder) {
  Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0 || Fault(DiskStep::kFolderFlush, folder) || ::fsync(dir.get()) != 0) {
    SetLastError(static_cast<uint32_t>(errno));
    return false;
  }
  return true;
}

int OpenForAppend(const std::string& path) {
  const int fd = Fault(DiskStep::kCreate, path) ? -1 : ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) SetLastError(static_cast<uint32_t>(errno));
  return fd;
}

bool AppendDurably(int fd, const std::string& path, std::string_view bytes) {
  if (!WriteAll(fd, path, bytes) || Flush(fd, path, true) != 0) {
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
