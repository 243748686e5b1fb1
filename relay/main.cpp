// korvo-relay: the server's end of a pipe carried over SSH. sshd starts it as
// the login it authenticated; it connects to the server socket as that login,
// so the server's peer-credential rule names the right user, and copies
// messages both ways: frames on standard input become messages to the
// server, the server's messages become frames on standard output.
//
//   korvo-relay [--busy-wait MS]
//
// It first writes the greeting with the outcome of its connect. Either end
// closing ends the other; a frame or a message above the largest the
// protocol sends ends both.
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/file_io.h"
#include "platform/lasterror.h"
#include "platform/local_socket.h"
#include "platform/pipe_frames.h"

namespace {

using namespace korvo::platform;

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

int Fail(const char* what) {
  std::fprintf(stderr, "korvo-relay: %s\n", what);
  return 2;
}

// Copies until one end is gone; 0 when an end closed normally.
int Relay(int in, int out, int server) {
  FrameReader frames;
  char buffer[65536];
  for (;;) {
    pollfd p[2] = {{in, POLLIN, 0}, {server, POLLIN, 0}};
    int ready = poll(p, 2, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return Fail(std::strerror(errno));
    if (p[0].revents) {
      ssize_t n = read(in, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return 0;  // the client's end: the server sees it as the peer's
      frames.Feed(buffer, static_cast<size_t>(n));
      std::string message;
      while (frames.Next(&message)) {
        ssize_t sent;
        do sent = send(server, message.data(), message.size(), MSG_NOSIGNAL);
        while (sent < 0 && errno == EINTR);
        if (sent != static_cast<ssize_t>(message.size())) return 0;  // the server is gone
      }
      if (frames.malformed()) return Fail("frame longer than any message, connection refused");
    }
    if (p[1].revents) {
      // The messages waiting go out in one write, up to 64 KiB of frames.
      std::string frames;
      bool ended = false;
      while (frames.size() < sizeof buffer) {
        iovec iov{buffer, kMaxFrameLength};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        ssize_t n;
        do n = recvmsg(server, &msg, MSG_DONTWAIT);
        while (n < 0 && errno == EINTR);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        if (n < 0) {
          ended = true;  // reset by the server: its end
          break;
        }
        if (n == 0) {
          // The server's end, or an empty message it sent.
          pollfd h{server, POLLRDHUP, 0};
          if (poll(&h, 1, 0) == 1 && (h.revents & (POLLRDHUP | POLLHUP))) {
            ended = true;
            break;
          }
        }
        if (msg.msg_flags & MSG_TRUNC) return Fail("message from the server longer than any message, connection refused");
        frames += EncodeFrame(std::string_view(buffer, static_cast<size_t>(n)));
      }
      if (!frames.empty() && !WriteAll(out, frames)) return 0;
      if (ended) return 0;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  uint32_t busyWaitMs = kDefaultBusyWaitMs;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--busy-wait") == 0 && i + 1 < argc) {
      char* end = nullptr;
      unsigned long v = std::strtoul(argv[++i], &end, 10);
      if (!*argv[i] || *end || v > 0xFFFFFFFFul) return Fail("--busy-wait takes milliseconds");
      busyWaitMs = static_cast<uint32_t>(v);
    } else {
      std::fprintf(stderr, "usage: korvo-relay [--busy-wait MS]\n");
      return 2;
    }
  }
  std::string path = PipeNameToSocketPath("\\\\.\\Pipe\\Korvo");
  int server = path.empty() ? kInvalidHandle : LocalSocketConnect(path, busyWaitMs);
  uint32_t error = server == kInvalidHandle ? GetLastError() : 0;
  if (server == kInvalidHandle && error == 0) error = EIO;
  if (!WriteAll(STDOUT_FILENO, EncodeGreeting(error))) return 2;
  if (server == kInvalidHandle) {
    std::fprintf(stderr, "korvo-relay: no Korvo server at %s: %s\n", path.c_str(), SystemErrorText(error).c_str());
    return 1;
  }
  int rc = Relay(STDIN_FILENO, STDOUT_FILENO, server);
  close(server);
  return rc;
}
