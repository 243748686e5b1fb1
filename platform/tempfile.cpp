#include "platform/tempfile.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/lasterror.h"

namespace korvo::platform {

namespace {

// Starts from the clock and the process id, as two programs that start at once
// would otherwise walk the same numbers and collide on every try.
std::atomic<uint32_t>& NextUnique() {
  static std::atomic<uint32_t> next{static_cast<uint32_t>(std::time(nullptr)) ^
                                    (static_cast<uint32_t>(getpid()) << 5)};
  return next;
}

std::string BuildName(const std::string& folder, const std::string& prefix, uint32_t unique) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%04X", unique & 0xFFFF);
  std::string name = folder;
  if (!name.empty() && name.back() != '/') name += '/';
  name += prefix.substr(0, 3);
  name += digits;
  name += ".TMP";
  return name;
}

// A new file under a free number. O_EXCL never takes over a name that is
// there (a planted link included), O_NOFOLLOW says so once more, and 0600
// keeps the contents the user's own.
int CreateNumbered(const std::string& folder, const std::string& prefix, std::string& name, uint32_t& unique) {
  for (uint32_t tries = 0; tries < 0xFFFF; ++tries) {
    uint32_t u = NextUnique().fetch_add(1) & 0xFFFF;
    if (u == 0) u = NextUnique().fetch_add(1) & 0xFFFF;
    std::string candidate = BuildName(folder, prefix, u);
    if (candidate.size() >= kMaxPath) {
      SetLastError(ENAMETOOLONG);
      return -1;
    }
    int fd;
    do fd = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    while (fd < 0 && errno == EINTR);
    if (fd >= 0) {
      name = candidate;
      unique = u;
      return fd;
    }
    if (errno != EEXIST) {
      SetLastErrorFromErrno();
      return -1;
    }
  }
  SetLastError(EEXIST);
  return -1;
}

}  // namespace

uint32_t GetTempFileName(const std::string& folder, const std::string& prefix, uint32_t unique,
                         std::string& name) {
  if (unique != 0) {
    unique &= 0xFFFF;
    if (unique == 0) unique = 1;
    std::string candidate = BuildName(folder, prefix, unique);
    if (candidate.size() >= kMaxPath) {
      SetLastError(ENAMETOOLONG);
      return 0;
    }
    name = candidate;
    return unique;
  }
  uint32_t u = 0;
  const int fd = CreateNumbered(folder, prefix, name, u);
  if (fd < 0) return 0;
  ::close(fd);
  return u;
}

int CreateTempFile(const std::string& folder, const std::string& prefix, std::string& name) {
  uint32_t u = 0;
  return CreateNumbered(folder, prefix, name, u);
}

std::string MakePrivateFolder(const std::string& parent, const std::string& prefix) {
  std::string name = parent;
  if (name.empty() || name.back() != '/') name += '/';
  name += prefix + "XXXXXX";
  if (!mkdtemp(name.data())) {
    SetLastErrorFromErrno();
    return "";
  }
  return name;
}

}  // namespace korvo::platform
