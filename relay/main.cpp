// korvo-relay: the server's end of a pipe carried over SSH. sshd starts it as
// the login it authenticated; it connects to the server socket as that login,
// so the server's peer-credential rule names the right user, and copies
// messages both ways: frames on standard input become messages to the
// server, the server's messages become frames on standard output.
//
//   korvo-relay [--sessions] [--busy-wait MS]
//
// It first writes the greeting with the outcome of its connect. Either end
// closing ends the other; a frame or a message above the largest the
// protocol sends ends both. With --sessions a session's end is a mark on the
// stream and the relay stays for the next session the client asks for, so a
// later request costs no new SSH session.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/lasterror.h"
#include "platform/local_socket.h"
#include "platform/pipe_frames.h"

namespace {

using namespace korvo::platform;

// The most read from, or written to, the SSH stream at once.
constexpr int kStreamBuffer = 1 << 20;

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool WriteMark(int fd, uint32_t mark) {
  std::string bytes;
  AppendMark(&bytes, mark);
  return WriteAll(fd, bytes);
}

int Fail(const char* what) {
  std::fprintf(stderr, "korvo-relay: %s\n", what);
  return 2;
}

// Sends what the server has waiting as frames in one write (up to limit
// bytes); *ended at the server's end. False when the client's stream takes
// no more, or for a message longer than any the protocol sends (*refused).
bool ForwardServerMessages(int server, int out, size_t limit, bool* ended, bool* refused) {
  std::string frames;
  const Waiting after = AppendWaitingMessages(server, &frames, limit);
  *ended = after == Waiting::kEnd;
  *refused = after == Waiting::kTooLong;
  return !*refused && (frames.empty() || WriteAll(out, frames));
}

int Connect(uint32_t busyWaitMs, const std::string& path, int out, int* server) {
  *server = path.empty() ? kInvalidHandle : LocalSocketConnect(path, busyWaitMs);
  uint32_t error = *server == kInvalidHandle ? GetLastError() : 0;
  if (*server == kInvalidHandle && error == 0) error = EIO;
  if (!WriteAll(out, EncodeGreeting(error))) return 2;
  if (*server == kInvalidHandle) {
    std::fprintf(stderr, "korvo-relay: no Korvo server at %s: %s\n", path.c_str(), SystemErrorText(error).c_str());
    return 1;
  }
  return 0;
}

// Copies until one end is gone; 0 when an end closed normally. With sessions,
// a session's end is a mark on the stream, and the stream serves the next
// session it asks for; it ends when the client's stream does.
int Relay(int in, int out, int server, bool sessions, uint32_t busyWaitMs, const std::string& path) {
  FrameReader frames(sessions);
  std::vector<char> buffer(kStreamBuffer);
  // A session the relay ended waits for the client's end mark; what the
  // client sent meanwhile belongs to it and is dropped.
  bool ending = false;
  for (;;) {
    pollfd p[2] = {{in, POLLIN, 0}, {server, POLLIN, 0}};
    int ready = poll(p, server >= 0 ? 2 : 1, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return Fail(std::strerror(errno));
    if (p[0].revents) {
      ssize_t n = read(in, buffer.data(), buffer.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return 0;  // the client's end: the server sees it as the peer's
      frames.Feed(buffer.data(), static_cast<size_t>(n));
      // The messages of a piece go to the server many per call.
      std::string_view message;
      std::vector<std::string_view> batch;
      for (;;) {
        const FrameReader::Item item = frames.Take(&message);
        if (item == FrameReader::kMessage && server >= 0) {
          batch.push_back(message);
          continue;
        }
        if (!batch.empty() && !SendMessages(server, batch)) {
          if (!sessions) return 0;  // the server is gone
          // The server is gone: the session ends.
          close(server);
          server = kInvalidHandle;
          if (!WriteMark(out, kFrameEnd)) return 0;
          ending = true;
        }
        batch.clear();
        if (item == FrameReader::kNone) break;
        if (item == FrameReader::kMessage && ending) {
          // sent before the client saw the session's end
        } else if (item == FrameReader::kEnd && (server >= 0 || ending)) {
          if (server >= 0) {
            close(server);
            server = kInvalidHandle;
            if (!WriteMark(out, kFrameEnd)) return 0;
          }
          ending = false;
        } else if (item == FrameReader::kOpen && server < 0 && !ending) {
          if (int rc = Connect(busyWaitMs, path, out, &server)) return rc;
        } else {
          return Fail("frame out of turn, connection refused");
        }
      }
      if (frames.malformed()) return Fail("frame longer than any message, connection refused");
    }
    if (server >= 0 && p[1].revents) {
      bool ended = false, refused = false;
      const bool written = ForwardServerMessages(server, out, buffer.size(), &ended, &refused);
      if (refused) return Fail("message from the server longer than any message, connection refused");
      if (!written || (ended && !sessions)) return 0;
      if (ended) {
        close(server);
        server = kInvalidHandle;
        if (!WriteMark(out, kFrameEnd)) return 0;
        ending = true;
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  // sshd joins the relay by pipes of 64 KiB, which would cost a switch to
  // sshd and back for every 16 blocks of a file: larger ones where allowed.
  for (int fd : {STDIN_FILENO, STDOUT_FILENO}) fcntl(fd, F_SETPIPE_SZ, kStreamBuffer);
  uint32_t busyWaitMs = kDefaultBusyWaitMs;
  bool sessions = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--sessions") == 0) {
      sessions = true;
    } else if (std::strcmp(argv[i], "--busy-wait") == 0 && i + 1 < argc) {
      char* end = nullptr;
      unsigned long v = std::strtoul(argv[++i], &end, 10);
      if (!*argv[i] || *end || v > 0xFFFFFFFFul) return Fail("--busy-wait takes milliseconds");
      busyWaitMs = static_cast<uint32_t>(v);
    } else {
      std::fprintf(stderr, "usage: korvo-relay [--sessions] [--busy-wait MS]\n");
      return 2;
    }
  }
  const std::string path = PipeNameToSocketPath("\\\\.\\Pipe\\Korvo");
  int server = kInvalidHandle;
  if (int rc = Connect(busyWaitMs, path, STDOUT_FILENO, &server)) return rc;
  int rc = Relay(STDIN_FILENO, STDOUT_FILENO, server, sessions, busyWaitMs, path);
  return rc;
}
