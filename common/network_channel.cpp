#include "common/network_channel.h"

#include <atomic>
#include <cstdio>
#include <new>

#include "common/settings.h"
#include "common/trace.h"
#include "platform/lasterror.h"
#include "platform/pipe_frames.h"
#include "platform/username.h"

namespace korvo {

namespace {

template <class T>
Stream* Make() {
  return new (std::nothrow) T();
}

std::atomic<int64_t> gReadTimeoutOverride{-1};
std::atomic<int64_t> gBusyWaitOverride{-1};

constexpr const char kDefaultPipe[] = "Korvo";

}  // namespace

const RuntimeClass NetworkChannel::kRuntimeClass = {"NetworkChannel", sizeof(NetworkChannel), 0xFFFF,
                                                    &Make<NetworkChannel>, &Stream::kRuntimeClass};
const RuntimeClass ClientPipe::kRuntimeClass = {"ClientPipe", sizeof(ClientPipe), 0xFFFF, &Make<ClientPipe>,
                                                &NetworkChannel::kRuntimeClass};
const RuntimeClass ServerPipe::kRuntimeClass = {"ServerPipe", sizeof(ServerPipe), 0xFFFF, &Make<ServerPipe>,
                                                &NetworkChannel::kRuntimeClass};
const RuntimeClass Pipe::kRuntimeClass = {"Pipe", sizeof(Pipe), 0xFFFF, &Make<Pipe>, &NetworkChannel::kRuntimeClass};
const RuntimeClass Socket::kRuntimeClass = {"Socket", sizeof(Socket), 0xFFFF, &Make<Socket>,
                                            &NetworkChannel::kRuntimeClass};

// ---- NetworkChannel

int NetworkChannel::Connect(const char*) { return 0; }
int NetworkChannel::Receive(void*, uint32_t, uint32_t*) { return 0; }
int NetworkChannel::Send(const void*, uint32_t, uint32_t*) { return 0; }
int NetworkChannel::Reserved(uint32_t) { return 0; }
int NetworkChannel::HandOver(Stream&) { return 0; }

// ---- HandshakeChannel

int HandshakeChannel::Connect(const char*) { return 0; }
int HandshakeChannel::SendUserName() {
  if (!platform::GetUserName(userName_, sizeof userName_)) std::snprintf(userName_, sizeof userName_, "~unknown");
  return 0;  // the name is never sent
}
int HandshakeChannel::SendVersion() { return 0; }
int HandshakeChannel::SendReserved() { return 0; }
int HandshakeChannel::Introduce() { return SendUserName() && SendVersion() && SendReserved() && SendReserved(); }

// ---- ClientPipeChannel

ClientPipeChannel::ClientPipeChannel() { Open("."); }

int ClientPipeChannel::Open(const char* server, uint32_t access, uint32_t share, uint32_t creation, uint32_t flags) {
  std::snprintf(pipeName_, sizeof pipeName_, "\\\\%s\\Pipe\\Korvo", server ? server : ".");
  access_ = access;
  share_ = share;
  creation_ = creation;
  flags_ = flags;
  return 1;
}

int ClientPipeChannel::ConnectAndIntroduce(const char* name, uint32_t) { return Connect(name) && Introduce(); }

namespace {

std::string RemoteValue(int (*get)(char*, uint32_t), const char* fallback) {
  char value[512] = {};
  return get(value, sizeof value) && value[0] ? value : fallback;
}

// The server part of "\\<server>\Pipe\<name>".
std::string PipeServer(const char* pipeName) {
  std::string s = pipeName;
  size_t end = s.find('\\', 2);
  return s.size() > 2 && end != std::string::npos ? s.substr(2, end - 2) : std::string();
}

}  // namespace

int ClientPipeChannel::Connect(const char* server) {
  if (server) std::snprintf(pipeName_, sizeof pipeName_, "\\\\%s\\Pipe\\Korvo", server);
  if (handle_ != kInvalidHandle) Stream::Close();
  remote_.reset();
  std::string path = platform::PipeNameToSocketPath(pipeName_);
  Handle h = kInvalidHandle;
  if (path.empty() && platform::GetLastError() == platform::kErrorHostUnreachable) {
    platform::RemoteOptions options;
    options.sshProgram = RemoteValue(GetRemoteSshProgram, "ssh");
    options.sshOptions = platform::SplitOptions(RemoteValue(GetRemoteSshOptions, ""));
    options.relayPath = RemoteValue(GetRemoteRelayPath, "korvo-relay");
    options.busyWaitMs = BusyWaitMs();
    const std::string host = PipeServer(pipeName_);
    std::string sshError;
    remote_ = platform::RemotePipe::Connect(host, options, &h, &sshError);
    if (!remote_) {
      platform::LastErrorGuard keep;
      DebugPrintLastError(("Remote server " + host + " not reached").c_str());
      size_t start = 0;
      while (start < sshError.size()) {
        size_t end = sshError.find('\n', start);
        if (end == std::string::npos) end = sshError.size();
        if (end > start) DebugPrint("ssh %s: %.*s\n", host.c_str(), static_cast<int>(end - start), sshError.c_str() + start);
        start = end + 1;
      }
    }
  } else if (!path.empty()) {
    h = platform::LocalSocketConnect(path, BusyWaitMs());
  }
  if (h == kInvalidHandle) {
    remote_.reset();
    return NoteError();
  }
  // The time-outs belong to the socket, so whoever takes the handle keeps
  // them. A write that finds no room for as long is as stalled as a read
  // (over SSH, a link that went down).
  if (!platform::SetReceiveTimeout(h, ReadTimeoutMs()) || !platform::SetSendTimeout(h, ReadTimeoutMs())) {
    NoteError();
    platform::CloseHandle(h);
    remote_.reset();
    return 0;
  }
  SetHandle(h);
  ownsHandle_ = 1;
  return 1;
}

int ClientPipeChannel::Read(void* buffer, uint32_t count, uint32_t* done) {
  return Stream::Read(buffer, count, done);
}

int ClientPipeChannel::Write(const void* buffer, uint32_t count, uint32_t* done) {
  return Stream::Write(buffer, count, done);
}

uint32_t ClientPipeChannel::ReadTimeoutMs() {
  if (int64_t o = gReadTimeoutOverride.load(); o >= 0) return static_cast<uint32_t>(o);
  uint32_t value = 0;
  if (!GetReadTimeout(&value)) return kDefaultReadTimeoutMs;
  return value > kMaxReadTimeoutMs ? kMaxReadTimeoutMs : value;
}

uint32_t ClientPipeChannel::BusyWaitMs() {
  if (int64_t o = gBusyWaitOverride.load(); o >= 0) return static_cast<uint32_t>(o);
  return platform::kDefaultBusyWaitMs;
}

void ClientPipeChannel::OverrideTimeouts(std::optional<uint32_t> readMs, std::optional<uint32_t> busyWaitMs) {
  gReadTimeoutOverride = readMs ? static_cast<int64_t>(*readMs) : -1;
  gBusyWaitOverride = busyWaitMs ? static_cast<int64_t>(*busyWaitMs) : -1;
}

// ---- ClientPipe

// The connection closes before its channel goes, so that a remote bridge
// sees the end after the last message.
ClientPipe::~ClientPipe() { Stream::Close(); }

int ClientPipe::Connect(const char* server) {
  try {
    channel_ = std::make_unique<ClientPipeChannel>();
  } catch (const std::bad_alloc&) {
    platform::SetLastError(ENOMEM);
    return NoteError();
  }
  const char* name = !server || platform::IsThisMachine(server) ? "." : server;
  channel_->Open(name, kGenericRead | kGenericWrite, 0, kOpenExisting, kFileFlagOverlapped);
  if (!channel_->Connect(nullptr)) {
    lastError_ = channel_->GetError();
    return 0;
  }
  if (handle_ != kInvalidHandle) Stream::Close();
  TakeHandle(channel_.get());
  // The handle is closed once, by this pipe; the channel forgets it.
  channel_->ReleaseHandle();
  return 1;
}

int ClientPipe::Write(const void* buffer, uint32_t count, uint32_t* done) {
  if (channel_ && channel_->IsRemote() && count > platform::kMaxFrameLength) {
    if (done) *done = 0;
    return FailWith(platform::kErrorMoreData);
  }
  return Stream::Write(buffer, count, done);
}

int ClientPipe::WriteBlocks(const void* buffer, uint32_t count, uint32_t block, uint32_t* done) {
  if (channel_ && channel_->IsRemote() && block > platform::kMaxFrameLength) {
    *done = 0;
    return FailWith(platform::kErrorMoreData);
  }
  return SendBlocksBatched(buffer, count, block, done);
}

// ---- ServerPipeChannel

ServerPipeChannel::~ServerPipeChannel() {
  listener_.Close();
}

int ServerPipeChannel::Create(const char* name) {
  std::snprintf(pipeName_, sizeof pipeName_, "\\\\.\\Pipe\\%s", name ? name : kDefaultPipe);
  std::string path = platform::PipeNameToSocketPath(pipeName_);
  if (path.empty()) return NoteError();
  if (!listener_.Listen(path, static_cast<int>(maxInstances_))) return NoteError();
  return 1;
}

int ServerPipeChannel::Disconnect() {
  if (handle_ == kInvalidHandle) return 1;
  return Stream::Close();
}

int ServerPipeChannel::WaitForClient() {
  if (handle_ != kInvalidHandle) return 1;  // a client is connected already
  Handle h = listener_.Accept();
  if (h == kInvalidHandle) return NoteError();
  SetHandle(h);
  ownsHandle_ = 1;
  return 1;
}

int ServerPipeChannel::HandOver(Stream& target) {
  if (handle_ == kInvalidHandle) {
    platform::SetLastError(ENOTCONN);
    return NoteError();
  }
  if (!target.TakeHandle(this)) {
    platform::SetLastError(EINVAL);
    return NoteError();
  }
  // The listening socket stays: it is already the "next instance".
  ReleaseHandle();
  return 1;
}

int ServerPipeChannel::Read(void* buffer, uint32_t count, uint32_t* done) {
  uint32_t got = 0;
  auto* p = static_cast<uint8_t*>(buffer);
  while (got < count) {
    uint32_t n = 0;
    if (!Stream::Read(p + got, count - got, &n)) {
      if (done) *done = got;
      return 0;
    }
    got += n;
    if (truncated_) break;
  }
  if (done) *done = got;
  return 1;
}

int ServerPipeChannel::Write(const void* buffer, uint32_t count, uint32_t* done) {
  return Stream::Write(buffer, count, done);
}

int ServerPipeChannel::Close() {
  int ok = handle_ != kInvalidHandle ? Stream::Close() : 0;
  if (listener_.IsOpen()) {
    listener_.Close();
    ok = 1;
  }
  return ok;
}

// ---- ServerPipe

ServerPipe::~ServerPipe() { ServerPipe::Close(); }

int ServerPipe::Close() {
  std::lock_guard lock(closeMutex_);
  int ok = Stream::Close();
  if (channel_) ok = channel_->Close() || ok;
  return ok;
}

int ServerPipe::Listen(const char* name) {
  try {
    channel_ = std::make_unique<ServerPipeChannel>();
  } catch (const std::bad_alloc&) {
    platform::SetLastError(ENOMEM);
    return NoteError();
  }
  if (!channel_->Create(name)) {
    lastError_ = channel_->GetError();
    channel_.reset();
    return 0;
  }
  return 1;
}

int ServerPipe::WaitForClient() {
  if (!channel_) {
    platform::SetLastError(EINVAL);
    return NoteError();
  }
  if (!channel_->WaitForClient()) {
    lastError_ = channel_->GetError();
    return 0;
  }
  return 1;
}

int ServerPipe::HandOver(Stream& target) {
  if (!channel_) {
    platform::SetLastError(EINVAL);
    return NoteError();
  }
  if (!channel_->HandOver(target)) {
    lastError_ = channel_->GetError();
    return 0;
  }
  return 1;
}

void ServerPipe::Interrupt() {
  std::lock_guard lock(closeMutex_);
  if (channel_) channel_->Interrupt();
  else if (handle_ != kInvalidHandle) platform::ShutdownHandle(handle_);
}

int ServerPipe::GetPeerUser(std::string* userName, uint32_t* uid) {
  if (handle_ == kInvalidHandle) return 0;
  return platform::LocalSocketPeer(handle_, uid, userName) ? 1 : NoteError();
}

// ---- Pipe

Pipe::~Pipe() { Close(); }

int Pipe::Open(int server, const char* serverName) {
  Close();
  server_ = server;
  char name[160];
  if (server)
    std::snprintf(name, sizeof name, "\\\\.%s", "\\PIPE\\Korvo");
  else
    std::snprintf(name, sizeof name, "\\\\%s%s", serverName && platform::IsThisMachine(serverName) ? "." : serverName ? serverName : "", "\\PIPE\\Korvo");
  std::string path = platform::PipeNameToSocketPath(name);
  if (path.empty()) return NoteError();
  if (server) {
    // One instance: listen, take one client, and let nobody else in.
    platform::LocalListener listener;
    if (!listener.Listen(path, 0)) return NoteError();
    pipe_ = listener.Accept();
  } else {
    pipe_ = platform::LocalSocketConnect(path, ClientPipeChannel::BusyWaitMs());
  }
  if (pipe_ == kInvalidHandle) return NoteError();
  pipeIsSocket_ = true;
  return 1;
}

int Pipe::Close() {
  if (pipe_ == kInvalidHandle) return 0;
  if (!platform::CloseHandle(pipe_)) NoteError();
  pipe_ = kInvalidHandle;
  return 1;
}

int Pipe::Read(void* buffer, uint32_t count, uint32_t* done) {
  uint32_t got = 0;
  bool truncated = false;
  if (done) *done = 0;
  if (pipe_ == kInvalidHandle) return 0;
  bool ok = platform::ReadHandle(pipe_, pipeIsSocket_, buffer, count, &got, &truncated);
  if (done) *done = got;
  if (!ok) return NoteError();
  truncated_ = truncated;
  if (truncated) {
    platform::SetLastError(platform::kErrorMoreData);
    NoteErrorAndContinue();
  }
  return 1;
}

int Pipe::Write(const void* buffer, uint32_t count, uint32_t* done) {
  uint32_t put = 0;
  if (done) *done = 0;
  if (pipe_ == kInvalidHandle) return 0;
  bool ok = platform::WriteHandle(pipe_, pipeIsSocket_, buffer, count, &put);
  if (done) *done = put;
  return ok ? 1 : NoteError();
}

}  // namespace korvo
