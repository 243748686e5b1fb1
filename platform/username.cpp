#include "platform/username.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/lasterror.h"

namespace korvo::platform {

int GetUserName(char* buffer, uint32_t size) {
  std::vector<char> scratch(16384);
  passwd entry{};
  passwd* found = nullptr;
  int rc = getpwuid_r(geteuid(), &entry, scratch.data(), scratch.size(), &found);
  if (rc != 0 || !found || !found->pw_name) {
    SetLastError(rc != 0 ? static_cast<uint32_t>(rc) : ENOENT);
    return 0;
  }
  size_t length = std::strlen(found->pw_name);
  if (!buffer || length + 1 > size) {
    SetLastError(ENOBUFS);
    return 0;
  }
  std::memcpy(buffer, found->pw_name, length + 1);
  return 1;
}

}  // namespace korvo::platform
