// Wire messages between clients and the server: a 12-byte WireHeader, then
// at most 4096 bytes of payload; files travel as a header (tag 10, size) and
// 4096-byte blocks. A MessageLink sends and receives them over one channel;
// the client and the server use it alike, differing only in the wording of
// transfer failures.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/network_channel.h"
#include "common/status.h"

namespace korvo {

// Tags of the protocol itself; every other tag is a request code.
inline constexpr uint32_t kTagOk = 0;
inline constexpr uint32_t kTagError = 2;
inline constexpr uint32_t kTagData = 10;
// The handshake that opens every request.
inline constexpr uint32_t kTagIntroduce = 2000;
inline constexpr uint32_t kTagReportClientVersion = 2010;
inline constexpr uint32_t kTagGetServerVersion = 2140;

// Version words: major * 256 + minor.
inline constexpr uint32_t kProtocolVersion = 0x011E;       // 1.30, this suite
inline constexpr uint32_t kMinCompatibleVersion = 0x0114;  // 1.20, the oldest peer accepted

inline constexpr uint32_t kMaxPayload = 4096;
inline constexpr uint32_t kFileBlockSize = 4096;
inline constexpr uint32_t kErrorReplySize = 512;

class WireHeader {
 public:
  static constexpr uint32_t kSize = 12;
  static constexpr uint8_t kCheckValue = 0x35;
  static constexpr uint8_t kFlagCheckSequence = 0x01;

  explicit WireHeader(uint8_t flags = 0, uint8_t sequence = 0) : flags_(flags), sequence_(sequence) {}

  // The twelve bytes of a header with this object's flags and sequence.
  void Pack(uint32_t tag, uint32_t length, uint8_t out[kSize]) const;
  // Accepts the bytes when they XOR to 0x35 and, with the sequence flag set,
  // carry this object's sequence; then tag() and length() are theirs.
  bool Unpack(const uint8_t in[kSize]);
  // The check byte that makes the twelve bytes XOR to 0x35.
  static uint8_t CheckByte(const uint8_t bytes[kSize]);

  // One write of 12 bytes; 1 on success. Success adds 1 to the sequence.
  int Send(NetworkChannel& channel, uint32_t tag, uint32_t length);
  // One read of exactly 12 bytes that Unpack accepts; 1 on success.
  int Receive(NetworkChannel& channel);

  uint32_t tag() const { return tag_; }
  uint32_t length() const { return length_; }
  uint8_t flags() const { return flags_; }
  uint8_t sequence() const { return sequence_; }

 private:
  uint32_t tag_ = 0;
  uint8_t flags_;
  uint8_t sequence_;
  uint32_t length_ = 0;
};

// Thrown when a message cannot be sent; caught at the request boundary.
struct ClientServerExchangeException {
  Status status;
};

// A received message. The payload points into the link's buffer (valid until
// the next receive on the link) and is followed by a NUL there, so a text
// payload without its own NUL still ends. Odd tags carry no payload: length
// is then a plain value.
struct ReceivedMessage {
  uint32_t tag = 0;
  const uint8_t* payload = nullptr;
  uint32_t length = 0;

  // The payload as text, up to its NUL; empty when there is none.
  std::string_view Text() const;
  // The first 4 payload bytes, little-endian; false when there are fewer.
  bool Word(uint32_t* value) const;
};

class MessageLink {
 public:
  MessageLink() = default;
  virtual ~MessageLink();
  MessageLink(const MessageLink&) = delete;
  MessageLink& operator=(const MessageLink&) = delete;

  // Closes and deletes the channel; its close result, 0 when there was none.
  virtual int Close();
  // Connects the link; 0 here.
  virtual int Open(const char* server);
  // Selects the wording of transfer failures.
  virtual bool IsServerSide() const = 0;

  // Header (tag, strlen + 1, or 0 for a null text), then the text with its
  // NUL. Throws ClientServerExchangeException when a write fails.
  void SendText(uint32_t tag, const char* text);
  // Header (tag, count), then the bytes. Throws as SendText.
  void SendData(uint32_t tag, const void* bytes, uint32_t count);
  // The error reply: tag 2 with the fields [status as signed decimal, status
  // text], cut to fit 512 bytes. Throws as SendText.
  void SendError(Status status);
  // The same with a text of the server's own in place of the status's, where
  // the status's text alone would not tell the user why.
  void SendError(Status status, const std::string& text);
  // 0 or a status: kStatusDisconnect when the peer has gone, else the side's
  // "get message" status for a header that fails its check, a payload above
  // 4096 bytes, or one that does not come whole. Never throws.
  Status Receive(ReceivedMessage* message);
  // Sends the file (header 10 and 4096-byte blocks) and waits for the
  // receiver's answer; 0 or the side's "put file" status. Never throws.
  Status SendFile(const char* path);
  // The same from an open file, from its start.
  Status SendFile(Stream& file);
  // Receives a file into a new file at path and answers (0, 0), or (2, 0)
  // on failure; 0 or the side's "get file" status. A partly received file is
  // left in place. A file announced larger than maxBytes is refused before
  // any of it is read or written; *announced (when given) is the length the
  // file was announced with, 0 when no announcement came. Never throws.
  Status ReceiveFile(const char* path, uint32_t maxBytes = 0xFFFFFFFFu, uint32_t* announced = nullptr);
  // The same into an open file, emptied first through its handle (a
  // temporary file is never opened by name again).
  Status ReceiveFile(Stream& file);

  // Server side: creates the channel from its class and listens on the
  // default pipe, unless *stop is set before or after. 0 closes the link.
  int Listen(const RuntimeClass& channelClass, const std::atomic<bool>* stop = nullptr);
  int WaitForClient();
  int HandOver(Stream& target);
  // Wakes a WaitForClient or Receive blocked on another thread (on a
  // ServerPipe: a listener's wait fails, a session's receive gives
  // kStatusDisconnect).
  void Interrupt();

  NetworkChannel* GetChannel() const { return channel_.get(); }
  // The link takes the channel (a session channel after HandOver).
  void SetChannel(std::unique_ptr<NetworkChannel> channel);

 protected:
  Status PutBlockStatus() const;
  Status GetMessageStatus() const;
  Status PutFileStatus() const;
  Status GetFileStatus() const;
  // Receives into file, made at path first when one is given.
  Status ReceiveInto(Stream& file, const char* path, uint32_t maxBytes, uint32_t* announced);

  std::unique_ptr<NetworkChannel> channel_;
  // One more byte than a payload can have, for the NUL after it.
  uint8_t buffer_[kMaxPayload + 1] = {};
};

class ClientMessageLink : public MessageLink {
 public:
  // Creates a ClientPipe through its run-time class and connects it.
  int Open(const char* server) override;
  bool IsServerSide() const override { return false; }
};

class ServerMessageLink : public MessageLink {
 public:
  ServerMessageLink() = default;
  explicit ServerMessageLink(std::unique_ptr<NetworkChannel> channel) { SetChannel(std::move(channel)); }
  bool IsServerSide() const override { return true; }
};

// The server's part of the handshake that opens every request: 2000 names
// the user, 2140 is answered with the server's version word, 2010 reports the
// client's version; none of the three gets any other answer.
class ServerHandshake {
 public:
  static constexpr char kUnknownUser[] = "~unknown";

  // True when the message was one of the three (and is handled). Throws as
  // MessageLink::SendData when the version reply cannot be sent.
  bool Handle(MessageLink& link, const ReceivedMessage& message);
  // Requests other than the three need a client of at least 1.20; others get
  // the error reply kStatusClientVersionIncompatible from the dispatcher.
  bool ClientVersionAccepted() const { return clientVersion_ >= kMinCompatibleVersion; }

  // "~unknown" until 2000, and after a 2000 whose name does not fit a user
  // record (it is never cut).
  const std::string& userName() const { return userName_; }
  uint32_t clientVersion() const { return clientVersion_; }
  uint32_t serverVersion = kProtocolVersion;

 private:
  std::string userName_ = kUnknownUser;
  uint32_t clientVersion_ = 0;
};

}  // namespace korvo
