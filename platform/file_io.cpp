#include "platform/file_io.h"

#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/lasterror.h"

namespace korvo::platform {

namespace {

bool Fail() {
  SetLastErrorFromErrno();
  return false;
}

bool FailWith(uint32_t code) {
  SetLastError(code);
  return false;
}

// A reset connection means the same to callers as a closed one.
bool FailSocket() {
  if (errno == ECONNRESET || errno == EPIPE || errno == ENOTCONN) return FailWith(kErrorBrokenPipe);
  // A blocking socket says so when its time-out ran out.
  if (errno == EAGAIN || errno == EWOULDBLOCK) return FailWith(kErrorTimeout);
  return Fail();
}

bool ReceiveOnce(Handle h, void* buffer, uint32_t count, uint32_t* done, bool* truncated) {
  iovec iov{buffer, count};
  msghdr msg{};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  ssize_t n;
  do n = recvmsg(h, &msg, MSG_CMSG_CLOEXEC);
  while (n < 0 && errno == EINTR);
  // A blocking socket only says "again" when its receive time-out ran out.
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return FailWith(kErrorTimeout);
  if (n < 0) return FailSocket();
  *done = static_cast<uint32_t>(n);
  *truncated = (msg.msg_flags & MSG_TRUNC) != 0;
  if (n == 0) {
    // 0 bytes are the peer's end, or an empty message that a peer may send;
    // the latter is no data rather than a broken pipe.
    pollfd p{h, POLLRDHUP, 0};
    if (poll(&p, 1, 0) == 1 && (p.revents & (POLLRDHUP | POLLHUP)) != 0) return FailWith(kErrorBrokenPipe);
    return FailWith(kErrorHandleEof);
  }
  return true;
}

}  // namespace

Handle OpenFileHandle(const char* path, bool read, bool write, uint32_t creation) {
  if (!path || !*path) {
    SetLastError(kErrorFileNotFound);
    return kInvalidHandle;
  }
  int flags = O_CLOEXEC;
  flags |= read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
  switch (creation) {
    case kCreateNew: flags |= O_CREAT | O_EXCL; break;
    case kCreateAlways: flags |= O_CREAT | O_TRUNC; break;
    case kOpenExisting: break;
    case kOpenAlways: flags |= O_CREAT; break;
    case kTruncateExisting: flags |= O_TRUNC; break;
    default: SetLastError(EINVAL); return kInvalidHandle;
  }
  int fd;
  // A file a program creates is its owner's alone, whatever the umask.
  do fd = open(path, flags, 0600);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) SetLastErrorFromErrno();
  return fd;
}

bool CloseHandle(Handle h) {
  if (h < 0) return FailWith(EBADF);
  // Retrying close after EINTR could close a descriptor another thread got.
  if (close(h) != 0 && errno != EINTR) return Fail();
  return true;
}

bool FlushFileBuffers(Handle h) {
  int r;
  do r = fsync(h);
  while (r != 0 && errno == EINTR);
  return r == 0 || Fail();
}

bool IsValidHandle(Handle h) { return h >= 0 && fcntl(h, F_GETFD) != -1; }

bool IsSocketHandle(Handle h) {
  struct stat st;
  return fstat(h, &st) == 0 && S_ISSOCK(st.st_mode);
}

bool ReadHandle(Handle h, bool socket, void* buffer, uint32_t count, uint32_t* done, bool* truncated) {
  *done = 0;
  *truncated = false;
  if (count == 0) return FailWith(EINVAL);
  if (socket) return ReceiveOnce(h, buffer, count, done, truncated);
  ssize_t n;
  do n = read(h, buffer, count);
  while (n < 0 && errno == EINTR);
  if (n < 0) return Fail();
  if (n == 0) return FailWith(kErrorHandleEof);
  *done = static_cast<uint32_t>(n);
  return true;
}

bool PeerHasHungUp(Handle h) {
  pollfd p{h, POLLRDHUP, 0};
  int n;
  do n = poll(&p, 1, 0);
  while (n < 0 && errno == EINTR);
  return n == 1 && (p.revents & POLLHUP) != 0;
}

bool SetReceiveTimeout(Handle h, uint32_t ms) {
  // A zero timeval would mean no limit at all.
  timeval tv{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>(ms % 1000 * 1000)};
  if (ms == 0) tv.tv_usec = 1;
  if (setsockopt(h, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) return Fail();
  return true;
}

bool SetSendTimeout(Handle h, uint32_t ms) {
  timeval tv{0, 0};
  if (ms != kNoSendTimeout) {
    tv = timeval{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>(ms % 1000 * 1000)};
    if (ms == 0) tv.tv_usec = 1;
  }
  if (setsockopt(h, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) != 0) return Fail();
  return true;
}

bool WriteHandle(Handle h, bool socket, const void* buffer, uint32_t count, uint32_t* done) {
  *done = 0;
  if (count == 0) return FailWith(EINVAL);
  if (socket) {
    ssize_t n;
    do n = send(h, buffer, count, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    if (n < 0) return FailSocket();
    *done = static_cast<uint32_t>(n);
    return *done == count ? true : FailWith(EIO);
  }
  const char* p = static_cast<const char*>(buffer);
  while (*done < count) {
    ssize_t n = write(h, p + *done, count - *done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail();
    if (n == 0) return FailWith(EIO);
    *done += static_cast<uint32_t>(n);
  }
  return true;
}

namespace {

struct Batch {
  mmsghdr headers[kBatchMessages];
  iovec pieces[kBatchMessages];

  // The messages of up to kBatchMessages blocks of buffer; their number.
  unsigned Fill(const void* buffer, uint32_t count, uint32_t block) {
    unsigned n = 0;
    auto* p = static_cast<char*>(const_cast<void*>(buffer));
    for (uint32_t at = 0; at < count && n < kBatchMessages; at += block, ++n) {
      pieces[n] = iovec{p + at, std::min(block, count - at)};
      headers[n] = mmsghdr{};
      headers[n].msg_hdr.msg_iov = &pieces[n];
      headers[n].msg_hdr.msg_iovlen = 1;
    }
    return n;
  }
};

}  // namespace

bool SendMessages(Handle h, const void* buffer, uint32_t count, uint32_t block, uint32_t* done) {
  *done = 0;
  if (count == 0 || block == 0) return FailWith(EINVAL);
  Batch batch;
  const unsigned n = batch.Fill(buffer, count, block);
  // Only what there is room for goes in the batch; a full socket is waited
  // on for one message, so a call never waits longer than one send time-out.
  int sent;
  do sent = sendmmsg(h, batch.headers, n, MSG_NOSIGNAL | MSG_DONTWAIT);
  while (sent < 0 && errno == EINTR);
  if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
    do sent = sendmmsg(h, batch.headers, 1, MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
  }
  if (sent < 0) return FailSocket();
  // A message socket takes each message whole or not at all.
  for (int i = 0; i < sent; ++i) {
    if (batch.headers[i].msg_len != batch.pieces[i].iov_len) return FailWith(EIO);
    *done += batch.headers[i].msg_len;
  }
  return sent > 0 ? true : FailWith(EIO);
}

bool ReceiveMessages(Handle h, void* buffer, uint32_t count, uint32_t block, uint32_t* done) {
  *done = 0;
  if (count == 0 || block == 0) return FailWith(EINVAL);
  Batch batch;
  const unsigned n = batch.Fill(buffer, count, block);
  int got;
  do got = recvmmsg(h, batch.headers, n, MSG_CMSG_CLOEXEC | MSG_WAITFORONE, nullptr);
  while (got < 0 && errno == EINTR);
  // A blocking socket only says "again" when its receive time-out ran out.
  if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return FailWith(kErrorTimeout);
  if (got < 0) return FailSocket();
  for (int i = 0; i < got; ++i) {
    const mmsghdr& m = batch.headers[i];
    if (m.msg_hdr.msg_flags & MSG_TRUNC) return FailWith(kErrorMoreData);
    if (m.msg_len == 0 && i == 0) {
      // As ReadHandle: the peer's end, or an empty message.
      pollfd p{h, POLLRDHUP, 0};
      if (poll(&p, 1, 0) == 1 && (p.revents & (POLLRDHUP | POLLHUP)) != 0) return FailWith(kErrorBrokenPipe);
      return FailWith(kErrorHandleEof);
    }
    if (m.msg_len != batch.pieces[i].iov_len) return FailWith(kErrorHandleEof);
    *done += m.msg_len;
  }
  return got > 0 ? true : FailWith(kErrorHandleEof);
}

bool ShutdownHandle(Handle h) {
  if (shutdown(h, SHUT_RDWR) != 0) return Fail();
  return true;
}

int64_t SeekHandle(Handle h, int64_t distance, uint32_t origin) {
  int whence = origin == kSeekBegin ? SEEK_SET : origin == kSeekCurrent ? SEEK_CUR : origin == kSeekEnd ? SEEK_END : -1;
  if (whence < 0) {
    SetLastError(EINVAL);
    return -1;
  }
  off_t pos = lseek(h, distance, whence);
  if (pos < 0) {
    SetLastErrorFromErrno();
    return -1;
  }
  return pos;
}

bool TruncateHandle(Handle h) {
  off_t pos = lseek(h, 0, SEEK_CUR);
  if (pos < 0) return Fail();
  if (ftruncate(h, pos) != 0) return Fail();
  return true;
}

bool HandleSize(Handle h, uint64_t* size) {
  struct stat st;
  if (fstat(h, &st) != 0) return Fail();
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool DeleteFileByName(const char* path) {
  if (!path || !*path) return FailWith(kErrorFileNotFound);
  if (unlink(path) != 0) return Fail();
  return true;
}

std::FILE* StdioOfHandle(Handle h, const char* mode) {
  const int copy = fcntl(h, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) {
    SetLastErrorFromErrno();
    return nullptr;
  }
  std::FILE* f = fdopen(copy, mode);
  if (!f) {
    SetLastErrorFromErrno();
    close(copy);
  }
  return f;
}

int MakeFolder(const char* path, uint32_t mode) {
  if (!path || !*path) {
    SetLastError(kErrorFileNotFound);
    return -1;
  }
  if (mkdir(path, 0700) != 0) {
    if (errno == EEXIST) return 0;
    SetLastErrorFromErrno();
    return -1;
  }
  // Made 0700 first, so that it is never open to others before it has its
  // mode; chmod sets the bits the umask would have taken away.
  if (chmod(path, static_cast<mode_t>(mode)) != 0) {
    SetLastErrorFromErrno();
    return -1;
  }
  return 1;
}

std::string PrivateDataFolder() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data && *data == '/') return std::string(data) + "/korvo/";
  const char* home = std::getenv("HOME");
  if (home && *home == '/') return std::string(home) + "/.local/share/korvo/";
  return "";
}

bool MoveFileNoReplace(const char* from, const char* to) {
  if (!from || !*from || !to || !*to) {
    SetLastError(kErrorFileNotFound);
    return false;
  }
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) {
    SetLastErrorFromErrno();
    return false;
  }
  // A file system without the flag: a hard link is made only on a free name.
  if (link(from, to) != 0 || unlink(from) != 0) {
    SetLastErrorFromErrno();
    return false;
  }
  return true;
}

FolderTrust CheckOwnFolder(const char* path) {
  std::string name = path ? path : "";
  // "dir/" would be resolved through a symbolic link.
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  struct stat st;
  if (name.empty() || lstat(name.c_str(), &st) != 0) return FolderTrust::kMissing;
  if (S_ISLNK(st.st_mode)) return FolderTrust::kSymlink;
  if (!S_ISDIR(st.st_mode)) return FolderTrust::kNotAFolder;
  if (st.st_uid != geteuid()) return FolderTrust::kForeignOwner;
  if (st.st_mode & (S_IWGRP | S_IWOTH)) return FolderTrust::kOpenToOthers;
  return FolderTrust::kOwn;
}

Handle LockFolder(const char* path) {
  if (!path || !*path) {
    SetLastError(kErrorFileNotFound);
    return kInvalidHandle;
  }
  int fd;
  do fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    SetLastErrorFromErrno();
    return kInvalidHandle;
  }
  int r;
  do r = flock(fd, LOCK_EX | LOCK_NB);
  while (r != 0 && errno == EINTR);
  if (r != 0) {
    SetLastErrorFromErrno();
    close(fd);
    return kInvalidHandle;
  }
  return fd;
}

namespace {

std::string LoginName(uid_t uid) {
  struct passwd entry {};
  struct passwd* found = nullptr;
  char buffer[1024];
  if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found) return found->pw_name;
  return "uid " + std::to_string(uid);
}

// Why another login could change this one file or folder (lstat: a link is
// judged by the folder that holds it), empty when none could.
std::string WhoElseCouldChangeOne(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return path + ": " + std::strerror(errno);
  if (S_ISLNK(st.st_mode)) return "";
  if (st.st_uid != 0 && st.st_uid != geteuid()) return path + " belongs to the login " + LoginName(st.st_uid) + ".";
  const bool folder = S_ISDIR(st.st_mode);
  // A sticky folder keeps others from replacing what they do not own.
  if (folder && (st.st_mode & S_ISVTX)) return "";
  if ((st.st_mode & S_IWOTH) != 0) return path + " can be changed by every login.";
  if ((st.st_mode & S_IWGRP) != 0 && st.st_gid != 0) return path + " can be changed by the logins of its group.";
  return "";
}

// The path and every folder above it.
std::string WhoElseCouldChangeAlong(const std::string& path) {
  std::string node = path;
  while (!node.empty()) {
    if (std::string why = WhoElseCouldChangeOne(node); !why.empty()) return why;
    if (node == "/") break;
    const size_t slash = node.find_last_of('/');
    node = slash == 0 ? "/" : slash == std::string::npos ? "" : node.substr(0, slash);
  }
  return "";
}

}  // namespace

std::string WhoElseCouldChange(const std::string& path) {
  std::string given = path;
  while (given.size() > 1 && given.back() == '/') given.pop_back();
  if (given.empty() || given[0] != '/') {
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) return path + ": " + std::strerror(errno);
    given = std::string(cwd) + (given.empty() ? "" : "/" + given);
  }
  if (std::string why = WhoElseCouldChangeAlong(given); !why.empty()) return why;
  char resolved[PATH_MAX];
  if (!realpath(given.c_str(), resolved)) return path + ": " + std::strerror(errno);
  return WhoElseCouldChangeAlong(resolved);
}

}  // namespace korvo::platform
