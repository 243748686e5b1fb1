#include "platform/tempfile.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
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
  for (uint32_t tries = 0; tries < 0xFFFF; ++tries) {
    uint32_t u = NextUnique().fetch_add(1) & 0xFFFF;
    if (u == 0) u = NextUnique().fetch_add(1) & 0xFFFF;
    std::string candidate = BuildName(folder, prefix, u);
    if (candidate.size() >= kMaxPath) {
      SetLastError(ENAMETOOLONG);
      return 0;
    }
    int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      name = candidate;
      return u;
    }
    if (errno != EEXIST) {
      SetLastErrorFromErrno();
      return 0;
    }
  }
  SetLastError(EEXIST);
  return 0;
}

}  // namespace korvo::platform
