// The IPC server: one listener thread per enabled transport, one session
// thread per connected client. A session reads request messages, checks the
// client's version and the user's rights against the request table and hands
// each request to the handler of its code.
//
// Who a session's user is comes from the connection itself: on the local
// socket the peer credentials name the connecting login, and request 2000
// may name somebody else only for root or a user with the administration
// right.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/network_channel.h"
#include "common/status.h"
#include "common/wire.h"
#include "server/requestcode.h"

namespace korvo {

class Session;
class IpcServer;

extern IpcServer* g_IpcServer;

// Answers the session's current request. 0 lets the session go on to its
// next message; any other status ends the session.
using RequestHandler = Status (*)(Session& session);

class Session {
 public:
  // The session's user while it has none, and a login that does not fit a
  // user record, which is served as unregistered.
  static constexpr char kUnknownUser[] = "~unknown";
  // The pause between the end of the requests and closing the connection.
  static constexpr uint32_t kClosePauseMs = 100;

  // channel: the connected client; suspended: the server's suspended flag
  // now, which the session keeps for its whole life.
  Session(std::unique_ptr<NetworkChannel> channel, bool suspended);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // The session thread: requests until one ends the session, then the
  // close, after a pause when the client is still connected.
  void Run();
  // Receives and handles one message: 0 to go on, else the status that ends
  // the session (kStatusDisconnect when the client went or stayed silent).
  Status HandleRequest();
  // Ends a read blocked on the session's thread, and every later one, as a
  // disconnect. Any thread.
  void Wake();

  // The current request.
  const ReceivedMessage& message() const { return message_; }
  const RequestCode& request() const { return request_; }
  std::string_view PayloadText() const { return message_.Text(); }

  const std::string& userName() const { return userName_; }
  uint32_t rights() const { return rights_; }
  uint32_t clientVersion() const { return clientVersion_; }
  bool suspended() const { return suspended_; }
  int64_t connectTime() const { return connectTime_; }
  uint32_t requestCount() const { return requestCount_; }
  // The login on the other end; empty when it could not be learnt.
  const std::string& peerUser() const { return peerUser_; }
  // Root, or a login with the administration right: it may name another
  // user in request 2000 and submit faxes from other senders.
  bool mayActForOthers() const { return mayActForOthers_; }

  // Replies; each throws ClientServerExchangeException when it cannot be
  // sent, which ends the session.
  void ReplyOk() { link_.SendText(kTagOk, nullptr); }
  void ReplyOk(const char* text) { link_.SendText(kTagOk, text); }
  void ReplyOk(const void* bytes, uint32_t count) { link_.SendData(kTagOk, bytes, count); }
  void ReplyError(Status status) { link_.SendError(status); }
  void ReplyError(Status status, const std::string& text) { link_.SendError(status, text); }
  // The error tag without a status.
  void ReplyErrorTag() { link_.SendText(kTagError, nullptr); }
  // Every transfer of files has one deadline (Server\TransferTimeout): a
  // client that trickles its data or stops reading is cut off, logged.
  Status SendFile(const char* file);
  // Two files, one after the other; the first failure is returned.
  Status SendFiles(const char* file1, const char* file2);
  // The client's next message (its answer after a transfer); 0 or a status.
  Status ReceiveMessage(ReceivedMessage* message) { return link_.Receive(message); }
  // Two files within one deadline; a file announced larger than its most
  // (in bytes) is refused before any of it is read, logged.
  Status ReceiveFiles(const char* file1, uint32_t most1, const char* file2, uint32_t most2);
  // "[user] Operation '<request name>' failed." to the server log.
  void LogFailure();
  // A failure line of this session to the server log; a peer has a few a
  // minute, then a count of the rest.
  void LogFailureLine(const std::string& line);
  // Every failure line of the session is written (root's, the server's own
  // login's).
  void SetLinesInFull(bool on) { linesInFull_ = on; }

  // Whether the login's sessions count against its limit: root's and the
  // server's own login's do not.
  bool Counted(const std::string& serverLogin) const;
  bool SameLogin(const Session& other) const;
  // The session answers "Server is too busy." and ends: its login holds all
  // the sessions it may.
  void SetBusy(bool busy = true) { busy_ = busy; }
  bool busy() const { return busy_; }
  // The client has closed its end: the session is ending on its own.
  bool ClientGone();

 private:
  Status Dispatch();
  // Runs the transfer under the deadline.
  template <class Body>
  Status Transfer(Body body);
  // The busy session's life: the answer at once, then what the client sent
  // up to its handshake's question is read, so that closing the connection
  // does not throw the answer away.
  void RefuseBusy();
  void Introduce();
  uint32_t RightsOf(const std::string& name) const;
  void LogStatus(Status status);

  ServerMessageLink link_;
  std::mutex channelMutex_;  // Wake against the close at the end
  ReceivedMessage message_;
  RequestCode request_{};
  uint32_t rights_ = 0;
  std::string userName_ = kUnknownUser;
  uint32_t requestCount_ = 0;
  int64_t connectTime_ = 0;
  uint32_t clientVersion_ = 0;
  bool suspended_;
  std::string peerUser_;
  uint32_t peerUid_ = 0;
  bool peerKnown_ = false;
  bool peerFits_ = true;  // the peer's login fits a user record
  bool linesInFull_ = false;
  bool busy_ = false;
  bool mayActForOthers_ = false;
};

class IpcServer {
 public:
  // Selects the transports from Server\TcpIp and Server\Pipes and starts a
  // listener for each; *ok is 1 when at least one transport is enabled.
  explicit IpcServer(int* ok);
  // Stops the listeners and the sessions and joins every thread.
  ~IpcServer();
  // The same, leaving the object: no client request runs after it.
  void Stop();
  IpcServer(const IpcServer&) = delete;
  IpcServer& operator=(const IpcServer&) = delete;

  // Running session threads.
  static int SessionCount();
  // The flag that new sessions copy; set by suspend, cleared by resume.
  static void SetSuspended(bool on);
  static bool IsSuspended();
  static bool Stopping();

  // The handler slot of a request code. Handlers are set before the IPC
  // server starts; SetHandler is false for a code the table lacks or that the
  // session answers itself. A code without a handler ends its session like an
  // unknown one.
  static bool SetHandler(uint32_t code, RequestHandler handler);
  static RequestHandler Handler(uint32_t code);

 private:
  struct Listener {
    const RuntimeClass* transport = nullptr;
    ServerMessageLink link;
    std::thread thread;
  };
  struct SessionSlot {
    std::unique_ptr<Session> session;
    std::thread thread;
    std::atomic<bool> done{false};
    // A busy session that waits for its login's ending sessions before it
    // is refused.
    bool waits = false;
  };

  // Creates the transport's channel and lets it listen; false (logged) when
  // either fails.
  bool OpenListener(Listener& listener);
  void Listen(Listener& listener);
  void StartSession(std::unique_ptr<NetworkChannel> channel);
  // Joins the threads of sessions that have ended.
  void ReapSessions();
  // A waiting busy session: once its login's sessions whose clients have
  // gone have ended, it is served when the login is below its cap again.
  // False when the server stops meanwhile.
  bool Admit(SessionSlot& slot);

  // At most this many busy sessions wait for their client's handshake at
  // once; beyond that a busy connection is closed at once.
  static constexpr size_t kMaxBusySessions = 32;

  std::vector<std::unique_ptr<Listener>> listeners_;
  std::string serverLogin_;
  std::mutex sessionsMutex_;
  std::list<SessionSlot> sessions_;
  std::condition_variable sessionEnded_;  // under sessionsMutex_
};

}  // namespace korvo
