#include "platform/remote_pipe.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "platform/lasterror.h"
#include "platform/pipe_frames.h"
#include "platform/process.h"

namespace korvo::platform {

namespace {

using Clock = std::chrono::steady_clock;

// How long a connection nobody uses stays open for the next request.
constexpr const char* kControlPersist = "300";
// ssh appends a random suffix of this length to the control path while it
// sets the socket up; the whole must fit a socket address.
constexpr size_t kControlSuffix = 17;
constexpr size_t kMaxSocketPath = 107;
// What of ssh's complaints is kept for the trace.
constexpr size_t kMaxErrorText = 4096;
// After the stream ends, ssh has this long to exit before it is killed.
constexpr int kExitWaitMs = 10000;
// At most this much of the client's messages goes to ssh in one write.
constexpr size_t kBatchBytes = 65536;

void Close(Handle& fd) {
  if (fd >= 0) ::close(fd);
  fd = kInvalidHandle;
}

bool SendAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// One read from a stream into the text; false at its end.
bool ReadSome(int fd, std::string* into, size_t limit) {
  char buffer[65536];
  ssize_t n;
  do n = ::read(fd, buffer, sizeof buffer);
  while (n < 0 && errno == EINTR);
  if (n <= 0) return false;
  into->append(buffer, static_cast<size_t>(std::min<size_t>(static_cast<size_t>(n), limit - std::min(limit, into->size()))));
  return true;
}

int MsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

// The shell word of a text, as the remote login's shell reads the command.
std::string ShellQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

// Where shared connections live: the user's runtime folder, made private.
std::string ControlFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (!runtime || !*runtime) return {};
  std::string dir = std::string(runtime) + "/korvo";
  if (MakeFolder(dir.c_str(), 0700) < 0) return {};
  if (CheckOwnFolder(dir.c_str()) != FolderTrust::kOwn) return {};
  return dir;
}

int PidFd(pid_t pid) { return pid > 0 ? static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)) : -1; }

// Waits for ssh's end (its pidfd becomes readable) until the deadline; false
// when it is still running then.
bool WaitExit(int pidfd, Clock::time_point deadline) {
  if (pidfd < 0) return true;
  pollfd p{pidfd, POLLIN, 0};
  int ready;
  do ready = ::poll(&p, 1, MsLeft(deadline));
  while (ready < 0 && errno == EINTR);
  return ready != 0;
}

// Reaps ssh; its exit code (128 + signal when killed). A process that does
// not end in its time is killed.
int Reap(pid_t pid, int pidfd, Clock::time_point deadline) {
  if (!WaitExit(pidfd, deadline)) ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// What a failed connection means, from ssh's exit code and words.
uint32_t ConnectError(int exitCode, const std::string& sshError) {
  if (exitCode == 126 || exitCode == 127) return kErrorFileNotFound;  // the shell found no relay
  if (exitCode == 255) {
    if (sshError.find("Permission denied") != std::string::npos) return EACCES;
    return kErrorHostUnreachable;
  }
  return EPROTO;
}

}  // namespace

std::vector<std::string> SplitOptions(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  for (char c : text) {
    if (c == ' ' || c == '\t') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

bool IsRemoteHostName(const std::string& host) {
  if (host.empty() || host.size() > 253 || host[0] == '-') return false;
  for (char c : host) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
              c == '_' || c == ':';
    if (!ok) return false;
  }
  return true;
}

std::vector<std::string> RemoteCommandLine(const std::string& host, const RemoteOptions& options) {
  std::vector<std::string> argv = {options.sshProgram, "-T", "-x", "-a", "-o", "BatchMode=yes"};
  std::string folder = ControlFolder();
  std::string controlPath = folder + "/ssh-%C";
  if (!folder.empty() && folder.size() + 5 + 40 + kControlSuffix <= kMaxSocketPath) {
    argv.insert(argv.end(), {"-o", "ControlMaster=auto", "-o", "ControlPath=" + controlPath, "-o",
                             std::string("ControlPersist=") + kControlPersist});
  } else {
    argv.insert(argv.end(), {"-o", "ControlMaster=no"});
  }
  argv.insert(argv.end(), options.sshOptions.begin(), options.sshOptions.end());
  argv.push_back("--");
  argv.push_back(host);
  argv.push_back(ShellQuote(options.relayPath) + " --busy-wait " + std::to_string(options.busyWaitMs));
  return argv;
}

std::unique_ptr<RemotePipe> RemotePipe::Connect(const std::string& host, const RemoteOptions& options,
                                                Handle* clientEnd, std::string* sshError) {
  *clientEnd = kInvalidHandle;
  sshError->clear();
  if (!IsRemoteHostName(host)) {
    SetLastError(EINVAL);
    return nullptr;
  }
  // ssh's input and output are stream sockets, whose writes can be told not
  // to raise SIGPIPE when ssh has gone: a library must not kill its program.
  int in[2], out[2], err[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in) != 0) {
    SetLastErrorFromErrno();
    return nullptr;
  }
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, out) != 0) {
    SetLastErrorFromErrno();
    ::close(in[0]);
    ::close(in[1]);
    return nullptr;
  }
  if (::pipe2(err, O_CLOEXEC) != 0) {
    SetLastErrorFromErrno();
    for (int fd : {in[0], in[1], out[0], out[1]}) ::close(fd);
    return nullptr;
  }
  std::unique_ptr<RemotePipe> pipe(new RemotePipe());
  pipe->pid_ = StartProcessWithStdio(RemoteCommandLine(host, options), in[0], out[1], err[1]);
  uint32_t startError = GetLastError();
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  pipe->toSsh_ = in[1];
  pipe->fromSsh_ = out[0];
  pipe->sshErr_ = err[0];
  // ssh's end is watched as such: a shared connection holds copies of ssh's
  // output, so its end of stream can come long after ssh has gone.
  pipe->pidfd_ = PidFd(pipe->pid_);
  if (pipe->pid_ < 0) {
    *sshError = options.sshProgram + ": " + SystemErrorText(startError);
    SetLastError(kErrorHostUnreachable);
    return nullptr;  // the destructor closes the pipes; there is no process
  }

  // The greeting, or ssh's end with its reasons.
  const auto deadline = Clock::now() + std::chrono::milliseconds(uint64_t{options.busyWaitMs} + options.connectWaitMs);
  std::string stream;
  bool ended = false;
  bool exited = false;
  while (stream.size() < kGreetingSize && !ended) {
    pollfd p[3] = {{pipe->fromSsh_, POLLIN, 0}, {pipe->sshErr_, POLLIN, 0}, {pipe->pidfd_, POLLIN, 0}};
    // Once ssh has gone, only what it left is read.
    int ready = ::poll(p, 3, exited ? 0 : MsLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      ended = exited;
      break;
    }
    if (p[1].revents && !ReadSome(pipe->sshErr_, sshError, kMaxErrorText)) Close(pipe->sshErr_);
    if (p[0].revents && !ReadSome(pipe->fromSsh_, &stream, SIZE_MAX)) ended = true;
    if (p[2].revents) {
      exited = true;
      Close(pipe->pidfd_);
    }
  }
  uint32_t relayError = 0;
  bool greeted = stream.size() >= kGreetingSize && DecodeGreeting(stream.data(), kGreetingSize, &relayError);
  if (!greeted || relayError != 0) {
    // Nothing more is asked of ssh: it ends as its input does.
    Close(pipe->toSsh_);
    const bool timedOut = !greeted && !ended && MsLeft(deadline) == 0;
    if (timedOut) ::kill(pipe->pid_, SIGTERM);
    const auto exitBy = Clock::now() + std::chrono::milliseconds(kExitWaitMs);
    while (pipe->sshErr_ >= 0) {
      // What ssh says before it ends; after its end, what it left.
      pollfd p[2] = {{pipe->sshErr_, POLLIN, 0}, {pipe->pidfd_, POLLIN, 0}};
      int ready = ::poll(p, 2, exited ? 0 : MsLeft(exitBy));
      if (ready > 0 && p[1].revents) {
        exited = true;
        Close(pipe->pidfd_);
      }
      if (ready <= 0 || (p[0].revents && !ReadSome(pipe->sshErr_, sshError, kMaxErrorText))) Close(pipe->sshErr_);
    }
    int exitCode = Reap(pipe->pid_, pipe->pidfd_, exitBy);
    pipe->pid_ = -1;
    while (!sshError->empty() && (sshError->back() == '\n' || sshError->back() == '\r')) sshError->pop_back();
    if (greeted) SetLastError(relayError);
    else if (timedOut) SetLastError(kErrorTimeout);
    else if (stream.empty() && exitCode != 0) SetLastError(ConnectError(exitCode, *sshError));
    else SetLastError(EPROTO);
    return nullptr;
  }

  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
    SetLastErrorFromErrno();
    return nullptr;
  }
  pipe->wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (pipe->wake_ < 0) {
    SetLastErrorFromErrno();
    ::close(pair[0]);
    ::close(pair[1]);
    return nullptr;
  }
  pipe->bridgeEnd_ = pair[1];
  pipe->thread_ = std::thread(&RemotePipe::Bridge, pipe.get(), stream.substr(kGreetingSize));
  *clientEnd = pair[0];
  return pipe;
}

void RemotePipe::Bridge(std::string pending) {
  FrameReader frames;
  frames.Feed(pending.data(), pending.size());
  std::string ignored;
  char buffer[kMaxFrameLength];
  bool open = true;
  while (open) {
    std::string message;
    while (open && frames.Next(&message)) {
      ssize_t sent;
      do sent = ::send(bridgeEnd_, message.data(), message.size(), MSG_NOSIGNAL);
      while (sent < 0 && errno == EINTR);
      open = sent == static_cast<ssize_t>(message.size());
    }
    if (!open || frames.malformed()) break;  // the client gone, or a frame no relay sends
    pollfd p[5] = {{bridgeEnd_, POLLIN, 0}, {fromSsh_, POLLIN, 0}, {wake_, POLLIN, 0}, {sshErr_, POLLIN, 0},
                   {pidfd_, POLLIN, 0}};
    int ready = ::poll(p, 5, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || p[4].revents) break;  // ssh has gone
    if (p[2].revents) {
      // Closing: what the client wrote before still goes out (a request's
      // last message is often written just before its channel closes).
      ForwardClientMessages(buffer, sizeof buffer, SIZE_MAX);
      break;
    }
    if (p[3].revents && !ReadSome(sshErr_, &ignored, 0)) Close(sshErr_);
    if (p[0].revents && !ForwardClientMessages(buffer, sizeof buffer, kBatchBytes)) break;
    if (p[1].revents) {
      std::string piece;
      if (!ReadSome(fromSsh_, &piece, SIZE_MAX)) break;  // the remote end
      frames.Feed(piece.data(), piece.size());
    }
  }
  Finish();
}

int RemotePipe::TakeClientMessage(char* buffer, size_t size, std::string* frames) {
  iovec iov{buffer, size};
  msghdr msg{};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  ssize_t n;
  do n = ::recvmsg(bridgeEnd_, &msg, MSG_DONTWAIT);
  while (n < 0 && errno == EINTR);
  if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
  if (n == 0) {
    // The client's end, or an empty message it sent.
    pollfd p{bridgeEnd_, POLLRDHUP, 0};
    if (::poll(&p, 1, 0) == 1 && (p.revents & (POLLRDHUP | POLLHUP))) return -1;
  }
  // A message longer than any the protocol sends is refused.
  if (msg.msg_flags & MSG_TRUNC) return -1;
  *frames += EncodeFrame(std::string_view(buffer, static_cast<size_t>(n)));
  return 1;
}

bool RemotePipe::ForwardClientMessages(char* buffer, size_t size, size_t batch) {
  // The messages waiting go out in one write: a file's blocks then cost ssh
  // one read for many.
  std::string frames;
  int got;
  while ((got = TakeClientMessage(buffer, size, &frames)) > 0 && frames.size() < batch) {
  }
  if (!frames.empty() && !SendAll(toSsh_, frames)) return false;
  return got >= 0;
}

void RemotePipe::Finish() {
  // The client reads the end as the peer's; the relay sees its input end.
  ::shutdown(bridgeEnd_, SHUT_RDWR);
  Close(bridgeEnd_);
  Close(toSsh_);
  const auto deadline = Clock::now() + std::chrono::milliseconds(kExitWaitMs);
  std::string ignored;
  // Drained until ssh has gone, so it never blocks on a full pipe meanwhile.
  while (pidfd_ >= 0) {
    pollfd p[3] = {{fromSsh_, POLLIN, 0}, {sshErr_, POLLIN, 0}, {pidfd_, POLLIN, 0}};
    int ready = ::poll(p, 3, MsLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || p[2].revents) break;
    if (p[0].revents && !ReadSome(fromSsh_, &ignored, 0)) Close(fromSsh_);
    if (p[1].revents && !ReadSome(sshErr_, &ignored, 0)) Close(sshErr_);
  }
  Close(fromSsh_);
  Close(sshErr_);
  if (pid_ > 0) Reap(pid_, pidfd_, deadline);
  Close(pidfd_);
  pid_ = -1;
}

RemotePipe::~RemotePipe() {
  if (thread_.joinable()) {
    uint64_t one = 1;
    ssize_t n = ::write(wake_, &one, sizeof one);
    (void)n;
    thread_.join();
  } else {
    Close(bridgeEnd_);
    Close(toSsh_);
    Close(fromSsh_);
    Close(sshErr_);
    if (pid_ > 0) Reap(pid_, pidfd_, Clock::now() + std::chrono::milliseconds(kExitWaitMs));
  }
  Close(pidfd_);
  Close(wake_);
}

}  // namespace korvo::platform
