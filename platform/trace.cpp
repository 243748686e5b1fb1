#include "platform/trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/lasterror.h"

namespace korvo::platform {

void WriteTrace(std::string_view text) {
  LastErrorGuard guard;
  int fd = STDERR_FILENO;
  const char* path = std::getenv("KORVO_TRACE");
  if (path && *path) {
    fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) fd = STDERR_FILENO;
  }
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    p += n;
    left -= static_cast<size_t>(n);
  }
  if (fd != STDERR_FILENO) ::close(fd);
}

}  // namespace korvo::platform
