// The server's pipe on another machine, carried by OpenSSH: ssh (batch mode,
// no terminal, a shared connection under the user's runtime folder) runs the
// relay korvo-relay there, and a bridge thread turns the frames on ssh's
// stream back into messages on a local message socket. The caller gets that
// socket's end, which behaves as the local server socket does: one write is
// one message, a short read buffer truncates, the remote end closing is the
// peer's end. Identity, encryption and keys are OpenSSH's.
//
// A relay serves one session at a time and is kept when it ends: the next
// connection of the process to the same host asks it for a new session,
// which costs one round trip instead of a new ssh session and relay. Idle
// relays that have gone are noticed and replaced; connections made at the
// same time each get a relay of their own.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_io.h"
#include "platform/local_socket.h"

namespace korvo::platform {

struct RemoteOptions {
  std::string sshProgram = "ssh";
  // Given to ssh before the host, split at blanks ("-F /etc/korvo/ssh_config").
  std::vector<std::string> sshOptions;
  // The relay on the server's machine, as its login's shell finds it.
  std::string relayPath = "korvo-relay";
  // Passed to the relay: how long it waits for a busy server.
  uint32_t busyWaitMs = kDefaultBusyWaitMs;
  // How long ssh may take to reach the relay (on top of the busy wait).
  uint32_t connectWaitMs = 30000;
};

// Splits a value of extra options at blanks and tabs.
std::vector<std::string> SplitOptions(const std::string& text);

// A host name ssh may be given: letters, digits, '.', '-', '_' and ':' (an
// address), not starting with '-', so a name can never pass as an option.
bool IsRemoteHostName(const std::string& host);

// The shared connection's socket as ssh is given it (with ssh's %C), or
// empty when the user's runtime folder is missing and nothing is shared.
std::string RemoteControlPath();

// The ssh command line for one relay.
std::vector<std::string> RemoteCommandLine(const std::string& host, const RemoteOptions& options);

struct Relay;

class RemotePipe {
 public:
  // Connects to the server on the host; the caller owns *clientEnd. Null with
  // the last error set when no server was reached: EINVAL (a name that is no
  // host name), EHOSTUNREACH (unknown or unreachable host), EACCES
  // (authentication refused), ENOENT (no relay, or no server socket there),
  // ECONNREFUSED, ETIMEDOUT (server busy for the whole wait, or no answer
  // from the relay within it and connectWaitMs), EPROTO (the
  // relay's greeting did not come). *sshError gets what ssh said.
  static std::unique_ptr<RemotePipe> Connect(const std::string& host, const RemoteOptions& options, Handle* clientEnd,
                                             std::string* sshError);
  // Ends the session (the client's end then reads as closed); its relay is
  // kept for the next when it ended cleanly.
  ~RemotePipe();
  RemotePipe(const RemotePipe&) = delete;
  RemotePipe& operator=(const RemotePipe&) = delete;

 private:
  RemotePipe() = default;
  void Bridge(std::string pending);
  // Sends the waiting messages on (up to batch bytes of frames at once, and
  // the end mark after them at the client's end); 1 when the client is
  // still there, 0 when it has gone, -1 when ssh takes no more.
  int ForwardClientMessages(size_t batch);
  // Writes to ssh's input, waiting for room as long as the client is there
  // (its own writes are bounded by its socket's time-out); once it has gone,
  // at most a while more, so a stalled link cannot hold the closing client.
  bool SendToSsh(const std::string& bytes);
  bool SendMarkToSsh(uint32_t mark);
  // The session is over: the client reads the end, and the relay goes back
  // to the pool when it is fit for another session, else it is ended.
  void Finish(bool reusable);

  std::string key_;  // the relays this one may stand for
  std::unique_ptr<Relay> relay_;
  Handle bridgeEnd_ = kInvalidHandle;
  Handle wake_ = kInvalidHandle;
  // The owner asked the bridge to close, and how long sends may still wait.
  bool woken_ = false;
  std::chrono::steady_clock::time_point sendBy_;
  std::thread thread_;
};

}  // namespace korvo::platform
