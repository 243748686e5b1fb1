// The server's pipe: a Unix domain socket of type SOCK_SEQPACKET (one write is
// one message) in $KORVO_PIPE_DIR, default /run/korvo. A pipe name
// "\\server\Pipe\name" maps to the socket file <pipe dir>/<name> when the
// server is "."; other machines cannot be reached over this transport.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/file_io.h"

namespace korvo::platform {

inline constexpr uint32_t kDefaultBusyWaitMs = 15000;

std::string LocalSocketDir();
// This machine's name (gethostname).
std::string ComputerName();
// "." or this machine's name, without regard to case; the short name (up to
// the first dot) counts as well.
bool IsThisMachine(const char* server);
// The socket file of a pipe name; empty with kErrorHostUnreachable for a pipe
// on another machine, EINVAL for a name that is not a pipe name.
std::string PipeNameToSocketPath(const char* pipeName);

// Connects to a server socket. A full backlog is the busy case: the connect
// then waits up to busyWaitMs for the server to take it; a wait that runs out
// fails with kErrorTimeout. Other failures keep their errno (ENOENT: no server
// socket, ECONNREFUSED: a socket nobody listens on).
Handle LocalSocketConnect(const std::string& path, uint32_t busyWaitMs);

// The user on the other end of a connected socket (SO_PEERCRED).
bool LocalSocketPeer(Handle h, uint32_t* uid, std::string* userName);

// A listening server socket. Accept blocks until a client comes or another
// thread calls Interrupt, which makes every later Accept fail at once with
// kErrorOperationAborted, so a listener thread can always be joined.
class LocalListener {
 public:
  LocalListener() = default;
  ~LocalListener();
  LocalListener(const LocalListener&) = delete;
  LocalListener& operator=(const LocalListener&) = delete;

  // Creates the socket file (by default 0666: every local user may connect).
  // A file left by a server that is gone is replaced; a live server's is not
  // (EADDRINUSE).
  bool Listen(const std::string& path, int backlog, uint32_t socketMode = 0666);
  Handle Accept();
  void Interrupt();
  // Closes the socket and removes its file.
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }

 private:
  Handle fd_ = kInvalidHandle;
  Handle wake_ = kInvalidHandle;  // eventfd written by Interrupt
  std::string path_;
  uint64_t inode_ = 0;
  std::mutex interruptMutex_;
};

}  // namespace korvo::platform
