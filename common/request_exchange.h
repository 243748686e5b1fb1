// One client request, from connect to close: handshake (2000 names the user,
// 2140 checks the server's version, 2010 reports ours), the request itself,
// and the outcome as a RequestResult. Every request has a connection of its
// own.
//
//   RequestExchange exchange(userName);
//   ReceivedMessage reply;
//   RequestResult r = exchange.Run(server, 2020, nullptr, &reply);
//   if (r.status == 0) ... reply.Text() ...   // valid while exchange lives
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "common/status.h"
#include "common/wire.h"

namespace korvo {

struct RequestResult {
  Status status = 0;
  std::string text;

  RequestResult() = default;
  // The text is the status's message-table text.
  explicit RequestResult(Status s);
  RequestResult(Status s, std::string t) : status(s), text(std::move(t)) {}
};

// The result of an exchange that ended with status: the server's own code and
// text when it sent an error reply, else the status with its text.
RequestResult BuildRequestResult(Status status, const ReceivedMessage& lastReply);

// A file an exchange sends or receives: named by its path, or an open file
// (a temporary file is filled and read through the one handle it was made
// with, never opened by name again).
struct FileRef {
  FileRef(std::string p) : path(std::move(p)) {}
  FileRef(const char* p) : path(p ? p : "") {}
  FileRef(Stream& s) : stream(&s) {}

  std::string path;
  Stream* stream = nullptr;
};

class RequestExchange {
 public:
  explicit RequestExchange(const char* userName) : userName_(userName) {}
  virtual ~RequestExchange() = default;
  RequestExchange(const RequestExchange&) = delete;
  RequestExchange& operator=(const RequestExchange&) = delete;

  // Sends the request code with the text (no payload for a null text) and
  // takes the reply; *reply (when given) is the last message received, its
  // payload valid while this object lives.
  RequestResult Run(const char* server, uint32_t code, const char* payload, ReceivedMessage* reply,
                    uint32_t expectedTag = kTagOk);

  // The pause between the end of an exchange and closing the connection
  // (100 ms). For tests and benchmarks only; process-wide.
  static void SetDisconnectPause(std::chrono::milliseconds pause);
  static std::chrono::milliseconds DisconnectPause();

 protected:
  // The request's own step, after the handshake. 0 or a status; send
  // failures throw ClientServerExchangeException.
  virtual Status Transact(uint32_t code, const char* payload, ReceivedMessage* reply, uint32_t expectedTag);
  // Sends the request and takes its first reply, whose tag must be expected.
  Status Request(uint32_t code, const char* payload, ReceivedMessage* reply, uint32_t expectedTag);

  Status SendFile(const FileRef& file);
  Status ReceiveFile(const FileRef& file);
  // A received file flushed to the disk.
  static bool SyncReceived(const FileRef& file);

  ClientMessageLink link_;
  const char* userName_;
  FileRef file1_{""};
  FileRef file2_{""};
};

// The reply (tag 0) is followed by a file, received into file1.
class ReceiveFileExchange : public RequestExchange {
 public:
  ReceiveFileExchange(const char* userName, FileRef file) : RequestExchange(userName) { file1_ = std::move(file); }

 protected:
  Status Transact(uint32_t code, const char* payload, ReceivedMessage* reply, uint32_t expectedTag) override;
};

// After the reply, file1 and file2 are sent, then a final reply is taken.
class SendFilesExchange : public RequestExchange {
 public:
  SendFilesExchange(const char* userName, FileRef file1, FileRef file2) : RequestExchange(userName) {
    file1_ = std::move(file1);
    file2_ = std::move(file2);
  }

 protected:
  Status Transact(uint32_t code, const char* payload, ReceivedMessage* reply, uint32_t expectedTag) override;
};

// After the reply, file1 and file2 are received, then a bare Ok is sent.
class ReceiveFilesExchange : public RequestExchange {
 public:
  ReceiveFilesExchange(const char* userName, FileRef file1, FileRef file2) : RequestExchange(userName) {
    file1_ = std::move(file1);
    file2_ = std::move(file2);
  }

 protected:
  Status Transact(uint32_t code, const char* payload, ReceivedMessage* reply, uint32_t expectedTag) override;
};

}  // namespace korvo
