#include "platform/announce.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/process.h"

namespace korvo::platform {

bool ServiceAnnouncement::Start(const std::string& name, const std::string& type, uint16_t port) {
  Stop();
  // Its words ("Established under name ...") are no business of the console.
  const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  pid_ = StartProcessWithStdio({program_, "-s", name, type, std::to_string(port)}, null, null, null);
  if (null >= 0) ::close(null);
  return pid_ > 0;
}

void ServiceAnnouncement::Stop() {
  if (pid_ <= 0) return;
  // A program that ended already (no avahi-daemon) is only reaped.
  ::kill(pid_, SIGTERM);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
}

}  // namespace korvo::platform
