// kvf: the fax printer's CUPS backend (device URI kvf:/). It runs under the
// spooler, where no window can open, so it hands each job to the printing
// user's capture agent, which opens the Send Fax dialog on that user's
// desktop. It ends as soon as the agent has the job's stream, without
// waiting for any dialog, so no user's open dialog holds the printer: the
// job stays held until its dialog has ended, when the agent cancels it, and
// an agent that ends before that offers it again when it starts anew. A job
// whose user runs no agent is held, with a message that says why, never
// dropped.
//
// Installed mode 0700 so that cupsd runs it as root: it needs that only to
// read the job and take on the printing user, as whom it then reaches the
// agent. Who is on the other end of the socket is the kernel's word (its
// owner and the peer's credentials), never anything said on it.
#include <cups/backend.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "capture/agent_link.h"
#include "platform/file_io.h"
#include "platform/lasterror.h"
#include "platform/local_socket.h"

namespace {

using namespace korvo;
using namespace korvo::capture;

std::string User(const char* user) { return user && *user ? user : "(unknown)"; }

// The job waits in the queue until the user's agent runs and it is released.
int Hold(const std::string& user, const std::string& jobId, const std::string& why) {
  // The job shows the last error message as its status.
  std::fprintf(stderr, "ERROR: Held: %s. %s in the desktop session of %s, then release the job: lp -i %s -H resume\n",
               why.c_str(), kHeldForAgent, user.c_str(), jobId.c_str());
  return CUPS_BACKEND_HOLD;
}

bool Send(platform::Handle h, const std::string& message) {
  uint32_t done = 0;
  return platform::WriteHandle(h, true, message.data(), static_cast<uint32_t>(message.size()), &done);
}

bool Receive(platform::Handle h, char& answer) {
  char buffer[16];
  uint32_t done = 0;
  bool truncated = false;
  if (!platform::ReadHandle(h, true, buffer, sizeof buffer, &done, &truncated) || done != 1) return false;
  answer = buffer[0];
  return true;
}

// Why a backend not run as root cannot act as the printing user: cupsd runs
// a backend as root only when others may not run it (mode 0700).
std::string NotRootReason() {
  struct stat self {};
  char mode[16] = "unknown";
  if (stat("/proc/self/exe", &self) == 0) std::snprintf(mode, sizeof mode, "%04o", self.st_mode & 07777);
  const passwd* runner = getpwuid(geteuid());
  return std::string("the backend kvf runs as ") + (runner ? runner->pw_name : std::to_string(geteuid())) +
         ", not as root: its mode is " + mode + ", and cupsd runs a backend as root only with mode 0700";
}

bool BecomeUser(const passwd& pw) {
  if (geteuid() != 0 || pw.pw_uid == 0) return geteuid() == pw.pw_uid;
  const gid_t gid = pw.pw_gid;
  return setgroups(1, &gid) == 0 && setgid(gid) == 0 && setuid(pw.pw_uid) == 0 && getuid() == pw.pw_uid;
}

}  // namespace

int main(int argc, char** argv) {
  // The spooler stops a job with SIGTERM; a cancelled job simply ends here.
  std::signal(SIGPIPE, SIG_IGN);
  if (argc == 1) {
    std::printf("direct kvf:/ \"Korvo Printer\" \"Korvo Printer (print to fax)\"\n");
    return CUPS_BACKEND_OK;
  }
  if (argc < 6 || argc > 7) {
    std::fprintf(stderr, "Usage: %s job-id user title copies options [file]\n", argv[0]);
    return CUPS_BACKEND_FAILED;
  }
  const std::string jobText = argv[1], user = User(argv[2]);
  char* end = nullptr;
  const unsigned long jobId = std::strtoul(argv[1], &end, 10);
  if (!end || *end || jobId == 0 || jobId > UINT32_MAX) {
    std::fprintf(stderr, "ERROR: Bad job id \"%s\"\n", argv[1]);
    return CUPS_BACKEND_FAILED;
  }
  // The job file is the spooler's: opened before we take on the user.
  int input = 0;
  if (argc == 7 && (input = open(argv[6], O_RDONLY | O_CLOEXEC)) < 0) {
    std::fprintf(stderr, "ERROR: Unable to open the print file %s: %s\n", argv[6], std::strerror(errno));
    return CUPS_BACKEND_FAILED;
  }
  const passwd* pw = getpwnam(user.c_str());
  if (!pw) return Hold(user, jobText, "no local user is called " + user);
  const uid_t uid = pw->pw_uid;
  if (geteuid() != 0 && geteuid() != uid) return Hold(user, jobText, NotRootReason());
  errno = 0;
  if (!BecomeUser(*pw))
    return Hold(user, jobText, std::string("cannot act as that user: ") + (errno ? std::strerror(errno) : "refused"));

  const std::string folder = AgentFolderForUser(uid), socketPath = AgentSocketForUser(uid);
  if (platform::CheckOwnFolder(folder.c_str()) != platform::FolderTrust::kOwn)
    return Hold(user, jobText, "no capture agent runs for " + user + " (no private folder " + folder + ")");
  std::fprintf(stderr, "INFO: Handing the job to the capture agent of %s\n", user.c_str());
  platform::Handle agent = platform::LocalSocketConnect(socketPath, platform::kDefaultBusyWaitMs);
  if (agent == platform::kInvalidHandle)
    return Hold(user, jobText,
                "no capture agent runs for " + user + " (" + platform::SystemErrorText(platform::GetLastError()) +
                    " at " + socketPath + ")");
  uint32_t peer = 0;
  if (!platform::LocalSocketPeer(agent, &peer, nullptr) || peer != uid) {
    platform::CloseHandle(agent);
    return Hold(user, jobText, "the program at " + socketPath + " is not run by " + user);
  }

  const char* printer = std::getenv("PRINTER");
  char answer = 0;
  if (!Send(agent, EncodeAnnouncement({static_cast<uint32_t>(jobId), printer ? printer : ""})) ||
      !Receive(agent, answer)) {
    platform::CloseHandle(agent);
    return Hold(user, jobText, "the capture agent of " + user + " did not take the job");
  }
  if (answer == kNoDisplay) {
    platform::CloseHandle(agent);
    return Hold(user, jobText, "the capture agent of " + user + " runs without a display for the Send Fax dialog");
  }
  if (answer != kStarted) {
    platform::CloseHandle(agent);
    std::fprintf(stderr, "ERROR: The capture agent of %s could not capture the job; it is cancelled\n",
                 user.c_str());
    return CUPS_BACKEND_CANCEL;
  }
  std::string chunk(1 + kDataChunk, kData);
  for (;;) {
    const ssize_t n = read(input, chunk.data() + 1, kDataChunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      std::fprintf(stderr, "ERROR: Unable to read the print data: %s\n", std::strerror(errno));
      platform::CloseHandle(agent);
      return CUPS_BACKEND_FAILED;
    }
    if (n == 0) break;
    if (!Send(agent, chunk.substr(0, 1 + static_cast<size_t>(n)))) {
      platform::CloseHandle(agent);
      return Hold(user, jobText, "the capture agent of " + user + " stopped during the job");
    }
  }
  // The agent answers once it has the whole stream, before any dialog; the
  // job then stays held until its dialog ends, when the agent cancels it.
  const bool taken = Send(agent, std::string(1, kDataEnd)) && Receive(agent, answer) && answer == kTaken;
  platform::CloseHandle(agent);
  if (!taken) return Hold(user, jobText, "the capture agent of " + user + " stopped during the job");
  // cupsd keeps an error-level message as the held job's state message.
  std::fprintf(stderr, "ERROR: %s of %s: held until its Send Fax dialog ends\n", kHandedToAgent, user.c_str());
  return CUPS_BACKEND_HOLD;
}
