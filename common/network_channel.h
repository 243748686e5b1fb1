// Connection channels of the request protocol. ClientPipe and ServerPipe are
// the two ends of the server's pipe (a local message socket); each drives a
// channel object of its own (ClientPipeChannel, ServerPipeChannel) that owns
// the set-up. Pipe is a plain blocking pipe, Socket the TCP/IP channel that
// connects to nothing.
//
// A server accepts like this:
//   ServerPipe listener;                 // or created from ServerPipe::kRuntimeClass
//   listener.Connect(nullptr);           // listen on "Korvo"
//   ServerPipe session;
//   listener.WaitForClient(); listener.HandOver(session);  // session owns the connection
// Another thread ends a blocked WaitForClient with listener.Interrupt().
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "common/stream.h"
#include "platform/local_socket.h"
#include "platform/remote_pipe.h"

namespace korvo {

class NetworkChannel : public Stream {
 public:
  static const RuntimeClass kRuntimeClass;
  NetworkChannel() = default;
  const RuntimeClass* GetRuntimeClass() const override { return &kRuntimeClass; }

  // All of these return 0 here.
  int Close() override { return 0; }
  // Connects to a server, or for a server channel listens on the name.
  virtual int Connect(const char* name);
  virtual int Receive(void* buffer, uint32_t count, uint32_t* done);
  virtual int Send(const void* buffer, uint32_t count, uint32_t* done);
  virtual int Reserved(uint32_t value);
  int WaitForClient() override { return 0; }
  int HandOver(Stream& target) override;
};

// Stands in for an introduction handshake that this channel never offered:
// every step returns 0, so the introduction always fails. Requests introduce
// themselves through the message layer instead.
class HandshakeChannel : public Stream {
 public:
  static constexpr uint32_t kVersion = 0x011E;
  virtual int Connect(const char* name);
  int Introduce();

 protected:
  int SendUserName();
  int SendVersion();
  int SendReserved();
  char userName_[64] = {};
};

class ClientPipeChannel : public HandshakeChannel {
 public:
  // The read time-out when the setting is missing, and its upper limit.
  static constexpr uint32_t kDefaultReadTimeoutMs = 10000;
  static constexpr uint32_t kMaxReadTimeoutMs = 120000;

  ClientPipeChannel();
  // SetPipe: the pipe name "\\<server>\Pipe\Korvo" and the open parameters.
  int Open(const char* server, uint32_t access = kDefaultAccess, uint32_t share = 0,
           uint32_t creation = kOpenExisting, uint32_t flags = kFileFlagOverlapped) override;
  // Connect, then the introduction, which always fails.
  int ConnectAndIntroduce(const char* name, uint32_t reserved) override;
  // Opens the pipe (rebuilt from the server name when one is given); a busy
  // server is waited on and tried again. A server on another machine is
  // reached over SSH (platform/remote_pipe.h), with the "Remote" machine
  // values; what ssh said about a failure goes to the trace.
  int Connect(const char* server) override;
  // Whether the connection goes to another machine.
  bool IsRemote() const { return remote_ != nullptr; }
  // Waits at most the read time-out for the message.
  int Read(void* buffer, uint32_t count, uint32_t* done) override;
  int Write(const void* buffer, uint32_t count, uint32_t* done) override;

  const char* GetPipeName() const { return pipeName_; }

  // The "ReadTimeout" setting: 10000 ms when missing, at most 120000 ms.
  static uint32_t ReadTimeoutMs();
  // How long a busy server is waited on (15000 ms).
  static uint32_t BusyWaitMs();
  // For tests, whose clocks cannot wait that long: replaces the two values
  // for the whole process; nullopt restores the normal ones.
  static void OverrideTimeouts(std::optional<uint32_t> readMs, std::optional<uint32_t> busyWaitMs);

 private:
  char pipeName_[128] = {};
  uint32_t access_ = kDefaultAccess;
  uint32_t share_ = 0;
  uint32_t creation_ = kOpenExisting;
  uint32_t flags_ = kFileFlagOverlapped;
  std::unique_ptr<platform::RemotePipe> remote_;  // the bridge of a remote connection
};

class ClientPipe : public NetworkChannel {
 public:
  static const RuntimeClass kRuntimeClass;
  ClientPipe() = default;
  ~ClientPipe() override;
  const RuntimeClass* GetRuntimeClass() const override { return &kRuntimeClass; }

  int Close() override { return Stream::Close(); }
  // The server name, or this machine by "." or its own name.
  int Connect(const char* server) override;
  // Reads wait at most the read time-out (set on the socket by the
  // channel): a server that stops answering ends the request instead of
  // hanging the client.
  int Receive(void* buffer, uint32_t count, uint32_t* done) override { return Read(buffer, count, done); }
  int Send(const void* buffer, uint32_t count, uint32_t* done) override { return Write(buffer, count, done); }
  // Over a remote connection a message longer than any the protocol sends
  // fails here (kErrorMoreData), as the other end would refuse it.
  int Write(const void* buffer, uint32_t count, uint32_t* done) override;
  // A batch of messages per system call, with the same limit as Write.
  int WriteBlocks(const void* buffer, uint32_t count, uint32_t block, uint32_t* done) override;
  int ReadBlocks(void* buffer, uint32_t count, uint32_t block, uint32_t* done) override {
    return ReceiveBlocksBatched(buffer, count, block, done);
  }

 private:
  std::unique_ptr<ClientPipeChannel> channel_;
};

class ServerPipeChannel : public Stream {
 public:
  // A message socket is duplex and keeps message bounds by itself; of the
  // pipe's parameters only the number of instances remains, as the backlog.
  static constexpr uint32_t kMaxInstances = 255;

  ServerPipeChannel() = default;
  ~ServerPipeChannel() override;

  // Creates the pipe "\\.\Pipe\<name>" (the listening socket).
  int Create(const char* name) override;
  // Drops the connected client, if any.
  int Disconnect() override;
  // Blocks until a client connects or Interrupt is called.
  int WaitForClient() override;
  int GiveHandle(Stream& target) override { return HandOver(target); }
  // The target takes the connected client; the listener waits for the next.
  int HandOver(Stream& target) override;
  // Reads until count bytes have come.
  int Read(void* buffer, uint32_t count, uint32_t* done) override;
  int Write(const void* buffer, uint32_t count, uint32_t* done) override;
  int Close() override;
  void Interrupt() { listener_.Interrupt(); }

  const char* GetPipeName() const { return pipeName_; }

 private:
  char pipeName_[128] = {};
  uint32_t maxInstances_ = kMaxInstances;  // the backlog of waiting clients
  platform::LocalListener listener_;
};

class ServerPipe : public NetworkChannel {
 public:
  static const RuntimeClass kRuntimeClass;
  ServerPipe() = default;
  ~ServerPipe() override;
  const RuntimeClass* GetRuntimeClass() const override { return &kRuntimeClass; }

  int Close() override;
  // Listens on "\\.\Pipe\<name>", "Korvo" when the name is null.
  int Connect(const char* name) override { return Listen(name); }
  int Listen(const char* name);
  int Receive(void* buffer, uint32_t count, uint32_t* done) override { return Read(buffer, count, done); }
  int Send(const void* buffer, uint32_t count, uint32_t* done) override { return Write(buffer, count, done); }
  int WaitForClient() override;
  int HandOver(Stream& target) override;
  // A batch of messages per system call.
  int WriteBlocks(const void* buffer, uint32_t count, uint32_t block, uint32_t* done) override {
    return SendBlocksBatched(buffer, count, block, done);
  }
  int ReadBlocks(void* buffer, uint32_t count, uint32_t block, uint32_t* done) override {
    return ReceiveBlocksBatched(buffer, count, block, done);
  }
  // Wakes a WaitForClient (listener) or a Receive (session) blocked on
  // another thread: the wait fails, a session's read as a broken pipe. So
  // listener and session threads can always be joined. Any thread may call
  // it, also while the owning thread closes the channel.
  void Interrupt();
  // The local user on the other end of a session channel.
  int GetPeerUser(std::string* userName, uint32_t* uid = nullptr);

 private:
  std::unique_ptr<ServerPipeChannel> channel_;  // none on a session channel
  std::mutex closeMutex_;                        // Close against Interrupt
};

class Pipe : public NetworkChannel {
 public:
  static const RuntimeClass kRuntimeClass;
  Pipe() = default;
  ~Pipe() override;
  const RuntimeClass* GetRuntimeClass() const override { return &kRuntimeClass; }

  using Stream::Open;
  // Server: listens on "\\.\PIPE\Korvo" and waits for one client. Client:
  // opens "\\<server>\PIPE\Korvo", waiting on a busy server.
  int Open(int server, const char* serverName);
  // 1 when a connection was closed, 0 when there was none.
  int Close() override;
  int Read(void* buffer, uint32_t count, uint32_t* done) override;
  int Write(const void* buffer, uint32_t count, uint32_t* done) override;

 private:
  int server_ = 0;
  Handle pipe_ = kInvalidHandle;
  bool pipeIsSocket_ = true;
};

class Socket : public NetworkChannel {
 public:
  static const RuntimeClass kRuntimeClass;
  Socket() = default;
  const RuntimeClass* GetRuntimeClass() const override { return &kRuntimeClass; }

  int Close() override { return 0; }
  int Connect(const char*) override { return 0; }
  int Receive(void*, uint32_t, uint32_t*) override { return 0; }
  int Send(const void*, uint32_t, uint32_t*) override { return 0; }
  int Reserved(uint32_t) override { return 0; }
  int WaitForClient() override { return 0; }
  int HandOver(Stream&) override { return 0; }
};

}  // namespace korvo
