#include "server/ipcserver.h"

#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <optional>
#include <system_error>

#include "common/settings.h"
#include "common/status_codes.h"
#include "common/user_record.h"
#include "platform/lasterror.h"
#include "platform/file_io.h"
#include "platform/username.h"
#include "server/client_limits.h"
#include "server/faxserver.h"
#include "server/peer_lines.h"
#include "server/syslog.h"
#include "server/trace.h"

namespace korvo {

IpcServer* g_IpcServer = nullptr;

namespace {

// Plain flags written by one thread and read by the others.
std::atomic<bool> gStop{false};
std::atomic<bool> gSuspended{false};
std::atomic<int> gSessionCount{0};
// ReadTimeout, read once at start-up.
std::atomic<uint32_t> gSessionTimeoutMs{ClientPipeChannel::kDefaultReadTimeoutMs};

using Clock = std::chrono::steady_clock;

// A session's end of the local socket. Every read waits at most the read
// time-out, and a whole message must come within it: a client that connects
// and sends nothing, or stops halfway, would otherwise hold its session
// thread for ever.
class SessionPipe : public ServerPipe {
 public:
  explicit SessionPipe(uint32_t timeoutMs) : timeoutMs_(timeoutMs) {}

  void StartMessage() { deadline_ = Clock::now() + std::chrono::milliseconds(timeoutMs_); }
  void EndMessage() { deadline_.reset(); }
  // A deadline over many messages (the files of a submission): a client
  // that sends a block now and then, each within the read time-out, is cut
  // off all the same.
  void StartTransfer(uint32_t ms) { transferDeadline_ = Clock::now() + std::chrono::milliseconds(ms); }
  void EndTransfer() { transferDeadline_.reset(); }
  bool TransferOver() const { return transferDeadline_ && Clock::now() >= *transferDeadline_; }

  int Read(void* buffer, uint32_t count, uint32_t* done) override {
    if (done) *done = 0;
    return ReadReady() ? ServerPipe::Read(buffer, count, done) : 0;
  }

  // Within a transfer a client that stops reading is cut off at the
  // deadline as well; other writes wait as long as it takes.
  int Write(const void* buffer, uint32_t count, uint32_t* done) override {
    if (done) *done = 0;
    return WriteReady() ? ServerPipe::Write(buffer, count, done) : 0;
  }

  // A file's blocks in batches, each system call under the same waits.
  int ReadBlocks(void* buffer, uint32_t count, uint32_t block, uint32_t* done) override {
    return ReceiveBlocksBatched(buffer, count, block, done, [this] { return ReadReady(); });
  }
  int WriteBlocks(const void* buffer, uint32_t count, uint32_t block, uint32_t* done) override {
    return SendBlocksBatched(buffer, count, block, done, [this] { return WriteReady(); });
  }

 private:
  // Sets the socket's receive time-out for the next read; false (the error
  // noted) when no time is left.
  bool ReadReady() {
    const auto now = Clock::now();
    if (transferDeadline_ && now >= *transferDeadline_) {
      // Also when the data is there: the time is up.
      return FailWith(platform::kErrorTimeout);
    }
    // Rounded up: a socket time-out cut short would end the read before the
    // deadline, and the cut-off would not count as the transfer's. A time-out
    // of 0 would wait for ever.
    int64_t wait = timeoutMs_;
    for (const auto& d : {deadline_, transferDeadline_}) {
      if (!d) continue;
      const int64_t left = std::chrono::ceil<std::chrono::milliseconds>(*d - now).count();
      wait = std::min<int64_t>(wait, left);
    }
    if (wait <= 0) return FailWith(platform::kErrorTimeout);
    // The socket's receive time-out; a read that runs out fails with
    // kErrorTimeout.
    if (static_cast<uint32_t>(wait) != socketTimeoutMs_) {
      if (!platform::SetReceiveTimeout(handle_, static_cast<uint32_t>(wait))) return NoteError();
      socketTimeoutMs_ = static_cast<uint32_t>(wait);
    }
    return true;
  }

  // The same for the send time-out.
  bool WriteReady() {
    uint32_t wait = platform::kNoSendTimeout;
    if (transferDeadline_) {
      const int64_t left = std::chrono::ceil<std::chrono::milliseconds>(*transferDeadline_ - Clock::now()).count();
      if (left <= 0) return FailWith(platform::kErrorTimeout);
      wait = static_cast<uint32_t>(left);
    }
    if (wait != socketSendTimeoutMs_) {
      if (!platform::SetSendTimeout(handle_, wait)) return NoteError();
      socketSendTimeoutMs_ = wait;
    }
    return true;
  }

  uint32_t timeoutMs_;
  uint32_t socketTimeoutMs_ = 0xFFFFFFFFu;  // none set yet
  uint32_t socketSendTimeoutMs_ = platform::kNoSendTimeout;  // the socket's own
  std::optional<Clock::time_point> deadline_;
  std::optional<Clock::time_point> transferDeadline_;
};

void WriteFailureLine(const std::string& line) {
  if (g_SysLog) g_SysLog->Error("%s", line.c_str());
}

// Failure lines of sessions, a few a minute for each peer.
PeerLines gFailureLines(WriteFailureLine);

// The uid under which the lines of a peer without credentials are counted;
// no login has it.
constexpr uint32_t kNoPeerUid = 0xFFFFFFFFu;

// How long a busy session waits for the rest of its client's handshake.
constexpr uint32_t kBusyHandshakeMs = 2000;

std::string FormatResource(uint32_t id, const char* a, const char* b = "") {
  const char* format = SysLog::ResourceFormat(id);
  if (!format) return {};
  char text[256];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

uint32_t SessionReadTimeoutMs() {
  uint32_t value = 0;
  if (!GetReadTimeout(&value)) return ClientPipeChannel::kDefaultReadTimeoutMs;
  return value > ClientPipeChannel::kMaxReadTimeoutMs ? ClientPipeChannel::kMaxReadTimeoutMs : value;
}

// The channel a listener hands a new client to.
std::unique_ptr<NetworkChannel> NewSessionChannel(const RuntimeClass& transport) {
  if (&transport == &ServerPipe::kRuntimeClass) return std::make_unique<SessionPipe>(gSessionTimeoutMs.load());
  std::unique_ptr<Stream> object(transport.CreateObject());
  auto* channel = dynamic_cast<NetworkChannel*>(object.get());
  if (!channel) return nullptr;
  object.release();
  return std::unique_ptr<NetworkChannel>(channel);
}

// The codes the session answers itself, and the tags of the protocol, which
// are read and get no reply.
bool AnsweredBySession(uint32_t code) {
  switch (code) {
    case kTagOk:
    case kTagError:
    case kTagData:
    case kTagIntroduce:
    case kTagReportClientVersion:
    case 2020:
    case kTagGetServerVersion:
    case 2150:
      return true;
    default:
      return false;
  }
}

std::map<uint32_t, RequestHandler>& HandlerSlots() {
  static std::map<uint32_t, RequestHandler> slots = [] {
    std::map<uint32_t, RequestHandler> m;
    size_t count = 0;
    const RequestCode* table = RequestCode::Table(&count);
    for (size_t i = 0; i < count; ++i)
      if (!AnsweredBySession(table[i].code)) m.emplace(table[i].code, nullptr);
    return m;
  }();
  return slots;
}

int64_t Now() { return static_cast<int64_t>(std::time(nullptr)); }

// Binary words travel little-endian.
void PutWord(uint8_t (&out)[4], uint32_t v) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

// ---- Session

Session::Session(std::unique_ptr<NetworkChannel> channel, bool suspended)
    : connectTime_(Now()), suspended_(suspended) {
  if (auto* pipe = dynamic_cast<ServerPipe*>(channel.get())) {
    std::string name;
    uint32_t uid = 0;
    if (pipe->GetPeerUser(&name, &uid)) {
      peerKnown_ = true;
      peerUid_ = uid;
      // An identity is never cut: cut, a long login could be another's
      // registered name. One that does not fit a user record is nobody's.
      peerFits_ = UserRecord::FitsName(name);
      peerUser_ = peerFits_ ? name : std::string(kUnknownUser);
    }
  }
  link_.SetChannel(std::move(channel));
}

Session::~Session() {
  std::lock_guard hold(channelMutex_);
  link_.Close();
}

void Session::Run() {
  if (busy_) {
    RefuseBusy();
    std::lock_guard hold(channelMutex_);
    link_.Close();
    return;
  }
  ++gSessionCount;
  if (!peerFits_)
    LogFailureLine("[" + peerUser_ + "] The login of uid " + std::to_string(peerUid_) +
                   " does not fit a user record; refused as unregistered");
  Status end;
  while ((end = HandleRequest()) == 0) {
  }
  --gSessionCount;
  // A client that is still there reads the last reply before the connection
  // goes. One that has gone (the usual end, after its request) needs no
  // wait, and at a high request rate the pause would hold a thread for every
  // request of the last 100 ms.
  if (end != kStatusDisconnect) std::this_thread::sleep_for(std::chrono::milliseconds(kClosePauseMs));
  std::lock_guard hold(channelMutex_);
  link_.Close();
}

void Session::RefuseBusy() {
  const std::string login = peerKnown_ ? peerUser_ : std::string(kUnknownUser);
  LogFailureLine("[" + login + "] Too many sessions at once, refused");
  try {
    link_.SendError(kStatusServerTooBusy);
  } catch (const ClientServerExchangeException&) {
    return;
  }
  auto* pipe = dynamic_cast<SessionPipe*>(link_.GetChannel());
  if (pipe) pipe->StartTransfer(std::min(kBusyHandshakeMs, gSessionTimeoutMs.load()));
  // The handshake is 2000 and 2140, the question the answer is for.
  for (int i = 0; i < 4; ++i)
    if (link_.Receive(&message_) != 0 || message_.tag == kTagGetServerVersion) break;
  if (pipe) pipe->EndTransfer();
}

bool Session::ClientGone() {
  std::lock_guard hold(channelMutex_);
  const NetworkChannel* channel = link_.GetChannel();
  return !channel || channel->GetHandle() == kInvalidHandle || platform::PeerHasHungUp(channel->GetHandle());
}

void Session::Wake() {
  std::lock_guard hold(channelMutex_);
  link_.Interrupt();
}

Status Session::HandleRequest() {
  auto* pipe = dynamic_cast<SessionPipe*>(link_.GetChannel());
  if (pipe) pipe->StartMessage();
  Status status = link_.Receive(&message_);
  if (pipe) pipe->EndMessage();
  if (status != 0) {
    if (status == kStatusDisconnect) return status;
    if (link_.GetChannel() && link_.GetChannel()->GetError() == platform::kErrorTimeout) {
      DebugTrace("[%s] No message within the read time-out, session ends.\n", userName_.c_str());
      return kStatusDisconnect;
    }
    LogStatus(status);
    return status;
  }
  const RequestCode* entry = RequestCode::Find(message_.tag);
  if (!entry) {
    LogStatus(kStatusUnsupportedMessage);
    return kStatusUnsupportedMessage;
  }
  request_ = *entry;
  try {
    if (!entry->Permits(rights_)) {
      LogFailure();
      LogFailureLine(FormatResource(SysLog::kStringNoPermissions, userName_.c_str()));
      status = (rights_ & kRightRegistered) ? kStatusNoPermission : kStatusNotRegisteredUser;
      link_.SendError(status);
      return status;
    }
    const bool handshake =
        entry->code == kTagIntroduce || entry->code == kTagGetServerVersion || entry->code == kTagReportClientVersion;
    if (!handshake && clientVersion_ < kMinCompatibleVersion) {
      LogFailure();
      link_.SendError(kStatusClientVersionIncompatible);
      return kStatusClientVersionIncompatible;
    }
    if (entry->log && g_SysLog) g_SysLog->Info("[%s] %s", userName_.c_str(), entry->name);
    status = Dispatch();
  } catch (const ClientServerExchangeException& e) {
    LogStatus(e.status);
    return e.status;
  }
  ++requestCount_;
  return status;
}

Status Session::Dispatch() {
  switch (message_.tag) {
    case kTagIntroduce:
      Introduce();
      return 0;
    case kTagReportClientVersion:
      // A report without its 4 bytes reports nothing.
      if (!message_.Word(&clientVersion_)) clientVersion_ = 0;
      return 0;
    case 2020:
      ReplyOk(std::to_string(rights_).c_str());
      return 0;
    case kTagGetServerVersion: {
      uint8_t word[4];
      PutWord(word, kProtocolVersion);
      ReplyOk(word, sizeof word);
      return 0;
    }
    case 2150: {
      uint8_t word[4];
      PutWord(word, static_cast<uint32_t>(Now()));
      ReplyOk(word, sizeof word);
      return 0;
    }
    case kTagOk:
    case kTagError:
    case kTagData:
      return 0;
    default:
      break;
  }
  if (RequestHandler handler = IpcServer::Handler(message_.tag)) return handler(*this);
  // Every code of the table has its handler once the server runs; a server
  // built without them treats the code as unknown, and the closed connection
  // tells the client at once.
  LogStatus(kStatusUnsupportedMessage);
  return kStatusUnsupportedMessage;
}

void Session::Introduce() {
  // The name whole: one that does not fit a user record is nobody's.
  std::string claimed(PayloadText());
  // The peer's own login, spelt exactly so, is the session's user; any other
  // name is acting for that user, which only root and administrators may do.
  // A login that does not fit a record has no rights, whatever record its
  // stand-in name might match.
  const std::string own = peerKnown_ ? peerUser_ : std::string(kUnknownUser);
  const uint32_t ownRights = peerKnown_ && peerFits_ ? RightsOf(own) : 0;
  mayActForOthers_ = peerKnown_ && (peerUid_ == 0 || (ownRights & kRightAdministration) != 0);
  if (claimed != own && !mayActForOthers_) {
    // Such a login's own client names it whole: no news beyond the line of
    // its session's start.
    if (peerFits_) LogFailureLine("[" + own + "] Not allowed to act for user '" + claimed + "'");
    claimed = own;
  }
  userName_ = UserRecord::FitsName(claimed) ? claimed : std::string(kUnknownUser);
  if (claimed == own) rights_ = ownRights;
  else rights_ = UserRecord::FitsName(claimed) ? RightsOf(claimed) : 0;
}

uint32_t Session::RightsOf(const std::string& name) const {
  // 0 for an unknown user and when the book cannot be locked in its time.
  if (!g_UserDatabase) return 0;
  uint32_t rights = g_UserDatabase->GetLoginRights(name);
  // The built-in administrator's record is root's: root's own login has its
  // rights, and so has its name for a session that acts for others.
  const bool rootItself = peerKnown_ && peerUid_ == 0 && name == peerUser_;
  if (rootItself || (mayActForOthers_ && name == kAdministratorName))
    rights |= g_UserDatabase->GetRights(kAdministratorName);
  return rights;
}

template <class Body>
Status Session::Transfer(Body body) {
  auto* pipe = dynamic_cast<SessionPipe*>(link_.GetChannel());
  const uint32_t timeoutMs = ClientLimits::Current().transferTimeoutMs;
  if (pipe) pipe->StartTransfer(timeoutMs);
  const Status status = body();
  const bool late = pipe && pipe->TransferOver();
  if (pipe) pipe->EndTransfer();
  if (status != 0 && late)
    LogFailureLine("[" + userName_ + "] Transfer not done within " + std::to_string(timeoutMs) + " ms, cut off");
  return status;
}

Status Session::SendFile(const char* file) {
  return Transfer([&] { return link_.SendFile(file); });
}

Status Session::SendFiles(const char* file1, const char* file2) {
  return Transfer([&] {
    if (Status s = link_.SendFile(file1)) return s;
    return link_.SendFile(file2);
  });
}

Status Session::ReceiveFiles(const char* file1, uint32_t most1, const char* file2, uint32_t most2) {
  uint32_t announced = 0;
  uint32_t most = most1;
  const Status status = Transfer([&] {
    if (Status s = link_.ReceiveFile(file1, most1, &announced)) return s;
    most = most2;
    return link_.ReceiveFile(file2, most2, &announced);
  });
  if (status != 0 && announced > most)
    LogFailureLine("[" + userName_ + "] A file of " + std::to_string(announced) + " bytes refused, the most is " +
                   std::to_string(most));
  return status;
}

void Session::LogFailure() {
  LogFailureLine(FormatResource(SysLog::kStringOperationFailed, userName_.c_str(), request_.name));
}

void Session::LogStatus(Status status) { LogFailureLine("[" + userName_ + "] " + GetStatusText(status)); }

void Session::LogFailureLine(const std::string& line) {
  if (line.empty()) return;
  // Root and the server's own login have every line, as they have every
  // session: they could clear the log anyway.
  if (linesInFull_) WriteFailureLine(line);
  else gFailureLines.Write(peerKnown_ ? peerUid_ : kNoPeerUid, peerKnown_ ? peerUser_ : kUnknownUser, line);
}

bool Session::Counted(const std::string& serverLogin) const {
  if (!peerKnown_) return true;
  return peerUid_ != 0 && (serverLogin.empty() || strcasecmp(peerUser_.c_str(), serverLogin.c_str()) != 0);
}

bool Session::SameLogin(const Session& other) const {
  if (peerKnown_ != other.peerKnown_) return false;
  return !peerKnown_ || peerUid_ == other.peerUid_;
}

// ---- IpcServer

IpcServer::IpcServer(int* ok) {
  *ok = 0;
  gStop = false;
  gSessionTimeoutMs = SessionReadTimeoutMs();
  ClientLimits::Load();
  // Whole, as the peers' names are.
  char login[256] = {};
  if (platform::GetUserName(login, sizeof login)) serverLogin_ = login;
  std::vector<const RuntimeClass*> transports;
  uint32_t value = 0;
  if (!KvReadRegDword("Server", "TcpIp", &value)) {
    if (g_SysLog) g_SysLog->Error("Fax Server: TCP/IP registry key not found");
  } else if (value == 1) {
    transports.push_back(&Socket::kRuntimeClass);
    if (g_SysLog) g_SysLog->Info("Fax Server: TCP/IP protocol enabled");
  }
  if (!KvReadRegDword("Server", "Pipes", &value)) {
    if (g_SysLog) g_SysLog->Error("Fax Server: Named pipes registry key not found");
  } else if (value == 1) {
    transports.push_back(&ServerPipe::kRuntimeClass);
    if (g_SysLog) g_SysLog->Info("Fax Server: Named Pipes protocol enabled");
  }
  if (transports.empty()) {
    if (g_SysLog) g_SysLog->Error("Fax Server: No IPC protocol enabled, exiting");
    return;
  }
  for (const RuntimeClass* transport : transports) {
    auto listener = std::make_unique<Listener>();
    listener->transport = transport;
    listeners_.push_back(std::move(listener));
  }
  for (auto& listener : listeners_) {
    // The channel listens before start-up goes on, so a client that comes
    // right after start-up finds the socket.
    if (!OpenListener(*listener)) continue;
    Listener* l = listener.get();
    try {
      l->thread = std::thread([this, l] { Listen(*l); });
    } catch (const std::system_error&) {
      if (g_SysLog) g_SysLog->Error("Fax Server: Could not start IPCServer for %s protocol", l->transport->className);
      l->link.Close();
    }
  }
  *ok = 1;
}

IpcServer::~IpcServer() {
  Stop();
  if (g_IpcServer == this) g_IpcServer = nullptr;
}

void IpcServer::Stop() {
  gStop = true;
  {
    std::lock_guard hold(sessionsMutex_);
  }
  sessionEnded_.notify_all();
  // Listening channels live until their thread has been joined.
  for (auto& l : listeners_)
    if (l->thread.joinable()) l->link.Interrupt();
  for (auto& l : listeners_) {
    if (l->thread.joinable()) l->thread.join();
    l->link.Close();
  }
  // No listener is left to add sessions.
  std::list<SessionSlot> sessions;
  {
    std::lock_guard hold(sessionsMutex_);
    sessions.swap(sessions_);
  }
  for (auto& s : sessions) s.session->Wake();
  for (auto& s : sessions)
    if (s.thread.joinable()) s.thread.join();
  gFailureLines.FlushAll();
}

bool IpcServer::OpenListener(Listener& l) {
  const RuntimeClass& transport = *l.transport;
  std::unique_ptr<Stream> object(transport.CreateObject());
  auto* created = dynamic_cast<NetworkChannel*>(object.get());
  if (!created) {
    if (g_SysLog) g_SysLog->Error("Fax Server: Could not start IPCServer for %s protocol", "unknown");
    return false;
  }
  object.release();
  l.link.SetChannel(std::unique_ptr<NetworkChannel>(created));
  if (!created->Connect(nullptr)) {
    if (g_SysLog) g_SysLog->Error("Fax Server: Could not start IPCServer for %s protocol", transport.className);
    l.link.Close();
    return false;
  }
  return true;
}

void IpcServer::Listen(Listener& l) {
  const RuntimeClass& transport = *l.transport;
  NetworkChannel* channel = l.link.GetChannel();
  while (!gStop) {
    std::unique_ptr<NetworkChannel> session = NewSessionChannel(transport);
    if (!session || !channel->WaitForClient() || !channel->HandOver(*session)) {
      // Keeps a persistent failure (no free descriptors) from spinning.
      if (!gStop) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    ReapSessions();
    gFailureLines.FlushDue();
    if (gStop) break;
    StartSession(std::move(session));
  }
  // The channel goes with the server, after this thread was joined.
}

void IpcServer::StartSession(std::unique_ptr<NetworkChannel> channel) {
  auto session = std::make_unique<Session>(std::move(channel), gSuspended.load());
  session->SetLinesInFull(!session->Counted(serverLogin_));
  std::lock_guard hold(sessionsMutex_);
  // One login may hold only so many sessions, so that it cannot take every
  // thread and descriptor of the server from the others.
  bool waits = false;
  if (session->Counted(serverLogin_)) {
    size_t same = 0;
    size_t ending = 0;
    size_t busy = 0;
    for (const auto& s : sessions_) {
      if (s.done) continue;
      if (s.session->busy()) {
        ++busy;
      } else if (s.session->SameLogin(*session)) {
        ++same;
        if (s.session->ClientGone()) ++ending;
      }
    }
    const size_t cap = ClientLimits::Current().maxSessionsPerUser;
    if (same >= cap) {
      // A flood of them is closed without a word.
      if (busy >= kMaxBusySessions) return;
      session->SetBusy();
      // Sessions whose clients have gone end on their own, on the server's
      // time: a client that asks again at once after its answers would be
      // refused by the sessions of those answers. It waits for them instead.
      waits = same - ending < cap;
    }
  }
  sessions_.emplace_back();
  SessionSlot& slot = sessions_.back();
  slot.session = std::move(session);
  slot.waits = waits;
  try {
    slot.thread = std::thread([this, &slot] {
      if (!slot.waits || Admit(slot)) slot.session->Run();
      {
        std::lock_guard hold(sessionsMutex_);
        slot.done = true;
      }
      sessionEnded_.notify_all();
    });
  } catch (const std::system_error&) {
    sessions_.pop_back();
  }
}

bool IpcServer::Admit(SessionSlot& slot) {
  std::unique_lock hold(sessionsMutex_);
  const size_t cap = ClientLimits::Current().maxSessionsPerUser;
  for (;;) {
    if (gStop) return false;
    size_t same = 0;
    size_t ending = 0;
    for (const auto& s : sessions_) {
      if (&s == &slot || s.done || s.session->busy() || !s.session->SameLogin(*slot.session)) continue;
      ++same;
      if (s.session->ClientGone()) ++ending;
    }
    if (same < cap) {
      slot.session->SetBusy(false);
      return true;
    }
    // The login's connected clients hold its cap: refused.
    if (same - ending >= cap) return true;
    sessionEnded_.wait(hold);
  }
}

void IpcServer::ReapSessions() {
  std::list<SessionSlot> ended;
  {
    std::lock_guard hold(sessionsMutex_);
    for (auto it = sessions_.begin(); it != sessions_.end();) {
      auto next = std::next(it);
      if (it->done) ended.splice(ended.end(), sessions_, it);
      it = next;
    }
  }
  for (auto& s : ended) s.thread.join();
}

int IpcServer::SessionCount() { return gSessionCount.load(); }
void IpcServer::SetSuspended(bool on) { gSuspended = on; }
bool IpcServer::IsSuspended() { return gSuspended.load(); }
bool IpcServer::Stopping() { return gStop.load(); }

bool IpcServer::SetHandler(uint32_t code, RequestHandler handler) {
  auto& slots = HandlerSlots();
  auto it = slots.find(code);
  if (it == slots.end()) return false;
  it->second = handler;
  return true;
}

RequestHandler IpcServer::Handler(uint32_t code) {
  const auto& slots = HandlerSlots();
  auto it = slots.find(code);
  return it == slots.end() ? nullptr : it->second;
}

}  // namespace korvo
