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
#include <map>
#include <mutex>
#include <sstream>

#include "platform/lasterror.h"
#include "platform/neighbourhood.h"
#include "platform/pipe_frames.h"
#include "platform/process.h"

#ifndef P_PIDFD
#define P_PIDFD 3
#endif

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
// After the stream ends, ssh has this long to exit before it is killed; a
// relay as long to answer a session's end.
constexpr int kExitWaitMs = 10000;
// At most this much of the client's messages goes to ssh in one write.
constexpr size_t kBatchBytes = 1 << 18;
// The buffers of ssh's input and output.
constexpr int kStreamBuffer = 1 << 20;
// Relays kept for later sessions, per host, and how long one stays unused.
constexpr size_t kMaxIdleRelays = 4;
constexpr auto kMaxIdleTime = std::chrono::seconds(60);

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

bool SendMark(int fd, uint32_t mark) {
  std::string bytes;
  AppendMark(&bytes, mark);
  return SendAll(fd, bytes);
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

bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return fd >= 0 && ::poll(&p, 1, 0) == 1;
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
// not end in its time is killed. Through the pidfd where there is one, so a
// process id reaped by someone else and given out again is never touched.
int Reap(pid_t pid, int pidfd, Clock::time_point deadline) {
  if (pidfd < 0) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
      if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  if (!WaitExit(pidfd, deadline)) ::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0);
  siginfo_t info{};
  while (::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidfd), &info, WEXITED) < 0) {
    if (errno != EINTR) return -1;
  }
  return info.si_code == CLD_EXITED ? info.si_status : 128 + info.si_status;
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

std::string RemoteControlPath() {
  const std::string folder = ControlFolder();
  if (folder.empty() || folder.size() + 5 + 40 + kControlSuffix > kMaxSocketPath) return {};
  return folder + "/ssh-%C";
}

namespace {

// ssh's keep-alive, so that a session over a link that went down ends within
// about half a minute instead of when TCP gives up.
constexpr const char* kAliveInterval = "10";
constexpr const char* kAliveCountMax = "3";  // also ssh's own default
// How long `ssh -G` may take to print its settings.
constexpr int kSettingsWaitMs = 5000;

// What a program writes to its output, its input empty; it is killed when it
// has not ended within the wait.
std::string OutputOf(const std::vector<std::string>& argv, int waitMs) {
  std::string out;
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return out;
  const int none = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  const pid_t pid = StartProcessWithStdio(argv, none, pipeFds[1], none);
  ::close(pipeFds[1]);
  if (none >= 0) ::close(none);
  if (pid < 0) {
    ::close(pipeFds[0]);
    return out;
  }
  const int pidfd = PidFd(pid);
  const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    pollfd p{pipeFds[0], POLLIN, 0};
    const int ready = ::poll(&p, 1, MsLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || !ReadSome(pipeFds[0], &out, 1 << 16)) break;
  }
  ::close(pipeFds[0]);
  Reap(pid, pidfd, deadline);
  if (pidfd >= 0) ::close(pidfd);
  return out;
}

// The keep-alive options ssh is given for the host: none where ssh_config
// (or the configured options) sets an interval, and no count where it sets
// one of its own. Asked of `ssh -G` once per command line and process.
std::vector<std::string> KeepAliveOptions(const std::string& host, const RemoteOptions& options) {
  static std::mutex mutex;
  static std::map<std::string, std::vector<std::string>> known;
  std::vector<std::string> argv = {options.sshProgram, "-G"};
  argv.insert(argv.end(), options.sshOptions.begin(), options.sshOptions.end());
  argv.insert(argv.end(), {"--", host});
  std::string key;
  for (const auto& word : argv) key += word + std::string(1, '\0');
  {
    std::lock_guard<std::mutex> hold(mutex);
    if (auto it = known.find(key); it != known.end()) return it->second;
  }
  std::string interval, count;
  std::istringstream lines(OutputOf(argv, kSettingsWaitMs));
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("serveraliveinterval ", 0) == 0) interval = line.substr(20);
    if (line.rfind("serveralivecountmax ", 0) == 0) count = line.substr(20);
  }
  std::vector<std::string> added;
  if (interval.empty() || interval == "0") {
    added = {"-o", std::string("ServerAliveInterval=") + kAliveInterval};
    if (count.empty() || count == kAliveCountMax)
      added.insert(added.end(), {"-o", std::string("ServerAliveCountMax=") + kAliveCountMax});
  }
  std::lock_guard<std::mutex> hold(mutex);
  known.emplace(key, added);
  return added;
}

}  // namespace

std::vector<std::string> RemoteCommandLine(const std::string& host, const RemoteOptions& options) {
  std::vector<std::string> argv = {options.sshProgram, "-T", "-x", "-a", "-o", "BatchMode=yes"};
  const std::vector<std::string> alive = KeepAliveOptions(host, options);
  argv.insert(argv.end(), alive.begin(), alive.end());
  const std::string controlPath = RemoteControlPath();
  if (!controlPath.empty()) {
    argv.insert(argv.end(), {"-o", "ControlMaster=auto", "-o", "ControlPath=" + controlPath, "-o",
                             std::string("ControlPersist=") + kControlPersist});
  } else {
    argv.insert(argv.end(), {"-o", "ControlMaster=no"});
  }
  argv.insert(argv.end(), options.sshOptions.begin(), options.sshOptions.end());
  argv.push_back("--");
  argv.push_back(host);
  argv.push_back(ShellQuote(options.relayPath) + " --sessions --busy-wait " + std::to_string(options.busyWaitMs));
  return argv;
}

// One ssh running the relay, which serves one session after another.
struct Relay {
  pid_t pid = -1;
  pid_t owner = ::getpid();
  Handle toSsh = kInvalidHandle;
  Handle fromSsh = kInvalidHandle;
  Handle sshErr = kInvalidHandle;
  Handle pidfd = kInvalidHandle;  // ssh's end as a descriptor event
  Clock::time_point idleSince;

  Relay() = default;
  Relay(const Relay&) = delete;
  Relay& operator=(const Relay&) = delete;
  ~Relay() { End(); }

  // Alive and quiet: an idle relay says nothing until it is asked.
  bool Idle() const { return owner == ::getpid() && !Readable(pidfd) && !Readable(fromSsh); }

  // The relay's input ends, and with it the relay and ssh; their output is
  // drained meanwhile, so ssh never blocks on it. ssh's exit code.
  int End() {
    Close(toSsh);
    if (owner != ::getpid()) {
      // A copy in a forked process: the parent's relay, not to be waited for.
      Close(fromSsh);
      Close(sshErr);
      Close(pidfd);
      pid = -1;
    }
    if (pid < 0) return -1;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kExitWaitMs);
    std::string ignored;
    while (pidfd >= 0 && (fromSsh >= 0 || sshErr >= 0)) {
      pollfd p[3] = {{fromSsh, POLLIN, 0}, {sshErr, POLLIN, 0}, {pidfd, POLLIN, 0}};
      int ready = ::poll(p, 3, MsLeft(deadline));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0 || p[2].revents) break;
      if (p[0].revents && !ReadSome(fromSsh, &ignored, 0)) Close(fromSsh);
      if (p[1].revents && !ReadSome(sshErr, &ignored, 0)) Close(sshErr);
    }
    Close(fromSsh);
    Close(sshErr);
    const int code = Reap(pid, pidfd, deadline);
    Close(pidfd);
    pid = -1;
    return code;
  }
};

namespace {

// The relays of this process that wait for a session, by the command line
// that started them. Only taking and giving back is done under the lock;
// relays are checked and ended outside it.
class RelayPool {
 public:
  std::unique_ptr<Relay> Take(const std::string& key) {
    std::vector<std::unique_ptr<Relay>> gone;  // ended on return, without the lock
    for (;;) {
      std::unique_ptr<Relay> relay;
      {
        std::lock_guard lock(mutex_);
        Expire(&gone);
        auto it = idle_.find(key);
        if (it == idle_.end() || it->second.empty()) return nullptr;
        relay = std::move(it->second.back());
        it->second.pop_back();
      }
      if (relay->Idle()) return relay;
      gone.push_back(std::move(relay));
    }
  }

  void Give(const std::string& key, std::unique_ptr<Relay> relay) {
    std::vector<std::unique_ptr<Relay>> gone;
    relay->idleSince = Clock::now();
    std::lock_guard lock(mutex_);
    Expire(&gone);
    auto& list = idle_[key];
    if (list.size() < kMaxIdleRelays) list.push_back(std::move(relay));
    else gone.push_back(std::move(relay));
  }  // the lock goes before the gone ones end

 private:
  // Takes out the relays unused for too long.
  void Expire(std::vector<std::unique_ptr<Relay>>* gone) {
    const auto oldest = Clock::now() - kMaxIdleTime;
    for (auto& entry : idle_) {
      auto& list = entry.second;
      for (auto it = list.begin(); it != list.end();) {
        if ((*it)->idleSince < oldest) {
          gone->push_back(std::move(*it));
          it = list.erase(it);
        } else {
          ++it;
        }
      }
    }
  }

  std::mutex mutex_;
  std::map<std::string, std::vector<std::unique_ptr<Relay>>> idle_;
};

// Never destroyed: a thread may still give a relay back while the process
// exits; the relays end with the process's descriptors.
RelayPool& Pool() {
  static RelayPool* pool = new RelayPool();
  return *pool;
}

std::string PoolKey(const std::vector<std::string>& argv, const RemoteOptions& options) {
  std::string key = std::to_string(options.connectWaitMs);
  for (const auto& word : argv) key += std::string(1, '\0') + word;
  return key;
}

// Starts ssh and the relay; null with the last error when ssh did not start.
std::unique_ptr<Relay> StartRelay(const std::vector<std::string>& argv, std::string* sshError) {
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
  // Room for a good part of a file on the way, so ssh and the bridge each
  // move many blocks per turn (where the system allows that much).
  for (int fd : {in[0], in[1], out[0], out[1]}) {
    const int size = kStreamBuffer;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  }
  auto relay = std::make_unique<Relay>();
  relay->pid = StartProcessWithStdio(argv, in[0], out[1], err[1]);
  uint32_t startError = GetLastError();
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  relay->toSsh = in[1];
  relay->fromSsh = out[0];
  relay->sshErr = err[0];
  // ssh's end is watched as such: a shared connection holds copies of ssh's
  // output, so its end of stream can come long after ssh has gone.
  relay->pidfd = PidFd(relay->pid);
  if (relay->pid < 0) {
    *sshError = argv[0] + ": " + SystemErrorText(startError);
    SetLastError(kErrorHostUnreachable);
    return nullptr;  // the descriptors close; there is no process
  }
  return relay;
}

enum class Greeting { kGreeted, kEnded, kTimedOut };

// Waits for the relay's greeting: *stream gets it and what came after it.
Greeting AwaitGreeting(Relay& relay, Clock::time_point deadline, std::string* stream, std::string* sshError,
                       bool* exited) {
  *exited = false;
  while (stream->size() < kGreetingSize) {
    pollfd p[3] = {{relay.fromSsh, POLLIN, 0}, {relay.sshErr, POLLIN, 0}, {relay.pidfd, POLLIN, 0}};
    // Once ssh has gone, only what it left is read.
    int ready = ::poll(p, 3, *exited ? 0 : MsLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return *exited ? Greeting::kEnded : Greeting::kTimedOut;
    if (p[1].revents && !ReadSome(relay.sshErr, sshError, kMaxErrorText)) Close(relay.sshErr);
    if (p[0].revents && !ReadSome(relay.fromSsh, stream, SIZE_MAX)) return Greeting::kEnded;
    if (p[2].revents) *exited = true;
  }
  return Greeting::kGreeted;
}

// A relay that did not greet, or refused: what ssh said until it ended, and
// the last error for it.
void RelayFailed(Relay& relay, Greeting greeting, bool greeted, uint32_t relayError, bool exited, bool streamEmpty,
                 std::string* sshError) {
  // Nothing more is asked of ssh: it ends as its input does.
  Close(relay.toSsh);
  if (greeting == Greeting::kTimedOut) ::syscall(SYS_pidfd_send_signal, relay.pidfd, SIGTERM, nullptr, 0);
  const auto exitBy = Clock::now() + std::chrono::milliseconds(kExitWaitMs);
  while (relay.sshErr >= 0) {
    // What ssh says before it ends; after its end, what it left.
    pollfd p[2] = {{relay.sshErr, POLLIN, 0}, {relay.pidfd, POLLIN, 0}};
    int ready = ::poll(p, 2, exited ? 0 : MsLeft(exitBy));
    if (ready > 0 && p[1].revents) exited = true;
    if (ready <= 0 || (p[0].revents && !ReadSome(relay.sshErr, sshError, kMaxErrorText))) Close(relay.sshErr);
  }
  const int exitCode = relay.End();
  while (!sshError->empty() && (sshError->back() == '\n' || sshError->back() == '\r')) sshError->pop_back();
  if (greeted) SetLastError(relayError);
  else if (greeting == Greeting::kTimedOut) SetLastError(kErrorTimeout);
  else if (streamEmpty && exitCode != 0) SetLastError(ConnectError(exitCode, *sshError));
  else SetLastError(EPROTO);
}

}  // namespace

std::unique_ptr<RemotePipe> RemotePipe::Connect(const std::string& host, const RemoteOptions& options,
                                                Handle* clientEnd, std::string* sshError) {
  *clientEnd = kInvalidHandle;
  sshError->clear();
  if (!IsRemoteHostName(host)) {
    SetLastError(EINVAL);
    return nullptr;
  }
  std::unique_ptr<RemotePipe> pipe(new RemotePipe());
  const std::vector<std::string> argv = RemoteCommandLine(ServerNameToReach(host), options);
  pipe->key_ = PoolKey(argv, options);
  std::string stream;
  for (;;) {
    // A relay kept from an earlier session is asked for a new one; one that
    // went meanwhile is replaced by a new relay.
    std::unique_ptr<Relay> relay = Pool().Take(pipe->key_);
    const bool kept = relay != nullptr;
    if (kept && !SendMark(relay->toSsh, kFrameOpen)) continue;
    if (!kept && !(relay = StartRelay(argv, sshError))) return nullptr;
    const auto deadline =
        Clock::now() + std::chrono::milliseconds(uint64_t{options.busyWaitMs} + options.connectWaitMs);
    stream.clear();
    bool exited = false;
    const Greeting greeting = AwaitGreeting(*relay, deadline, &stream, sshError, &exited);
    uint32_t relayError = 0;
    const bool greeted = greeting == Greeting::kGreeted && DecodeGreeting(stream.data(), kGreetingSize, &relayError);
    if (greeted && relayError == 0) {
      pipe->relay_ = std::move(relay);
      break;
    }
    if (kept && greeting == Greeting::kEnded && stream.empty()) {
      sshError->clear();
      continue;  // it went before it could answer
    }
    RelayFailed(*relay, greeting, greeted, relayError, exited, stream.empty(), sshError);
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
  Relay& relay = *relay_;
  FrameReader frames(true);
  frames.Feed(pending.data(), pending.size());
  std::string ignored;
  // Once the client's end mark went, the relay's answer is waited for and
  // what came before it is dropped.
  bool ended = false;
  bool clientGone = false;
  Clock::time_point answerBy;
  for (;;) {
    std::string_view message;
    FrameReader::Item item;
    std::vector<std::string_view> batch;
    while ((item = frames.Take(&message)) == FrameReader::kMessage) {
      if (!clientGone) batch.push_back(message);
    }
    if (!batch.empty() && !SendMessages(bridgeEnd_, batch)) clientGone = true;
    if (item == FrameReader::kEnd) {
      // The relay ended the session, or answered the client's end; nothing
      // may follow before the next session is asked for.
      const bool answered = ended || SendMarkToSsh(kFrameEnd);
      return Finish(answered && frames.pending() == 0);
    }
    if (item == FrameReader::kOpen || frames.malformed()) return Finish(false);  // a frame no relay sends
    if (clientGone && !ended) {
      if (!SendMarkToSsh(kFrameEnd)) return Finish(false);
      ended = true;
      answerBy = Clock::now() + std::chrono::milliseconds(kExitWaitMs);
    }
    pollfd p[5] = {{relay.fromSsh, POLLIN, 0}, {relay.pidfd, POLLIN, 0}, {relay.sshErr, POLLIN, 0},
                   {ended ? -1 : bridgeEnd_, POLLIN, 0}, {woken_ ? -1 : wake_, POLLIN, 0}};
    // A wake that came during a send to ssh is handled at once.
    const bool wokenInSend = woken_ && !clientGone;
    int ready = ::poll(p, 5, ended ? MsLeft(answerBy) : wokenInSend ? 0 : -1);
    if (ready < 0 && errno == EINTR) continue;
    if ((ready <= 0 && !wokenInSend) || p[1].revents) return Finish(false);  // ssh has gone, or the relay does not answer
    if (p[2].revents && !ReadSome(relay.sshErr, &ignored, 0)) Close(relay.sshErr);
    if (p[4].revents || wokenInSend) {
      // Closing: what the client wrote before still goes out (a request's
      // last message is often written just before its channel closes).
      if (!woken_) {
        woken_ = true;
        sendBy_ = Clock::now() + std::chrono::milliseconds(kExitWaitMs);
      }
      if (!ended && ForwardClientMessages(SIZE_MAX) < 0) return Finish(false);
      clientGone = true;
    } else if (p[3].revents) {
      const int forwarded = ForwardClientMessages(kBatchBytes);
      if (forwarded < 0) return Finish(false);
      clientGone = clientGone || forwarded == 0;
    }
    if (p[0].revents) {
      std::string piece;
      if (!ReadSome(relay.fromSsh, &piece, SIZE_MAX)) return Finish(false);  // the remote end
      frames.Feed(piece.data(), piece.size());
    }
  }
}

int RemotePipe::ForwardClientMessages(size_t batch) {
  // The messages waiting go out in one write: a file's blocks then cost ssh
  // one read for many. A message too long ends the session as the client's
  // end does.
  std::string frames;
  const Waiting after = AppendWaitingMessages(bridgeEnd_, &frames, batch);
  if (!frames.empty() && !SendToSsh(frames)) return -1;
  return after == Waiting::kNone ? 1 : 0;
}

bool RemotePipe::SendToSsh(const std::string& bytes) {
  const Relay& relay = *relay_;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(relay.toSsh, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) return false;
    if (errno == EINTR) continue;
    pollfd p[3] = {{relay.toSsh, POLLOUT, 0}, {relay.pidfd, POLLIN, 0}, {woken_ ? -1 : wake_, POLLIN, 0}};
    const int ready = ::poll(p, 3, woken_ ? MsLeft(sendBy_) : -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || p[1].revents) return false;  // ssh took nothing more in time, or has gone
    if (p[2].revents) {
      woken_ = true;
      sendBy_ = Clock::now() + std::chrono::milliseconds(kExitWaitMs);
    }
  }
  return true;
}

bool RemotePipe::SendMarkToSsh(uint32_t mark) {
  std::string bytes;
  AppendMark(&bytes, mark);
  return SendToSsh(bytes);
}

void RemotePipe::Finish(bool reusable) {
  // The client reads the end as the peer's.
  ::shutdown(bridgeEnd_, SHUT_RDWR);
  Close(bridgeEnd_);
  if (reusable) Pool().Give(key_, std::move(relay_));
  else relay_.reset();
}

RemotePipe::~RemotePipe() {
  if (thread_.joinable()) {
    uint64_t one = 1;
    ssize_t n = ::write(wake_, &one, sizeof one);
    (void)n;
    thread_.join();
  }
  Close(bridgeEnd_);
  Close(wake_);
}

}  // namespace korvo::platform
