#include "common/wire.h"

#include <cstdio>
#include <cstring>

#include "common/fields.h"
#include "common/status_codes.h"
#include "common/user_record.h"
#include "platform/lasterror.h"

namespace korvo {

namespace {

void PutLong(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

uint32_t GetLong(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

// ---- WireHeader

uint8_t WireHeader::CheckByte(const uint8_t bytes[kSize]) {
  uint8_t x = kCheckValue;
  for (uint32_t i = 0; i < kSize; ++i)
    if (i != 5) x ^= bytes[i];
  return x;
}

void WireHeader::Pack(uint32_t tag, uint32_t length, uint8_t out[kSize]) const {
  PutLong(out, tag);
  out[4] = flags_;
  out[5] = 0;
  out[6] = sequence_;
  out[7] = 0;
  PutLong(out + 8, length);
  out[5] = CheckByte(out);
}

bool WireHeader::Unpack(const uint8_t in[kSize]) {
  uint8_t x = kCheckValue;
  for (uint32_t i = 0; i < kSize; ++i) x ^= in[i];
  if (x != 0) return false;
  if ((in[4] & kFlagCheckSequence) && in[6] != sequence_) return false;
  tag_ = GetLong(in);
  length_ = GetLong(in + 8);
  return true;
}

int WireHeader::Send(NetworkChannel& channel, uint32_t tag, uint32_t length) {
  uint8_t bytes[kSize];
  Pack(tag, length, bytes);
  uint32_t done = 0;
  if (!channel.Send(bytes, kSize, &done) || done != kSize) return 0;
  tag_ = tag;
  length_ = length;
  ++sequence_;
  return 1;
}

int WireHeader::Receive(NetworkChannel& channel) {
  uint8_t bytes[kSize];
  uint32_t done = 0;
  // A longer message is not a header: its rest would be lost.
  if (!channel.Receive(bytes, kSize, &done) || done != kSize || channel.WasTruncated()) return 0;
  if (!Unpack(bytes)) return 0;
  ++sequence_;
  return 1;
}

// ---- ReceivedMessage

std::string_view ReceivedMessage::Text() const {
  if (!payload || length == 0) return {};
  const void* nul = std::memchr(payload, 0, length);
  size_t n = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - payload) : length;
  return {reinterpret_cast<const char*>(payload), n};
}

bool ReceivedMessage::Word(uint32_t* value) const {
  if (!payload || length < 4) return false;
  *value = GetLong(payload);
  return true;
}

// ---- MessageLink

MessageLink::~MessageLink() { MessageLink::Close(); }

int MessageLink::Close() {
  if (!channel_) return 0;
  int result = channel_->Close();
  channel_.reset();
  return result;
}

int MessageLink::Open(const char*) { return 0; }

void MessageLink::SetChannel(std::unique_ptr<NetworkChannel> channel) {
  Close();
  channel_ = std::move(channel);
}

Status MessageLink::PutBlockStatus() const {
  return IsServerSide() ? kStatusPutBlockToClient : kStatusPutBlockToServer;
}
Status MessageLink::GetMessageStatus() const {
  return IsServerSide() ? kStatusGetMessageFromClient : kStatusGetMessageFromServer;
}
Status MessageLink::PutFileStatus() const { return IsServerSide() ? kStatusPutFileToClient : kStatusPutFileToServer; }
Status MessageLink::GetFileStatus() const { return IsServerSide() ? kStatusGetFileFromClient : kStatusGetFileFromServer; }

void MessageLink::SendText(uint32_t tag, const char* text) {
  SendData(tag, text, text ? static_cast<uint32_t>(std::strlen(text)) + 1 : 0);
}

void MessageLink::SendData(uint32_t tag, const void* bytes, uint32_t count) {
  if (!channel_) throw ClientServerExchangeException{PutBlockStatus()};
  WireHeader header;
  if (!header.Send(*channel_, tag, count)) throw ClientServerExchangeException{PutBlockStatus()};
  uint32_t done = 0;
  if (count != 0 && (!channel_->Send(bytes, count, &done) || done != count))
    throw ClientServerExchangeException{PutBlockStatus()};
}

void MessageLink::SendError(Status status) { SendError(status, GetStatusText(status)); }

void MessageLink::SendError(Status status, const std::string& reason) {
  char code[16];
  std::snprintf(code, sizeof code, "%d", static_cast<int32_t>(status));
  std::string text = reason;
  // [code ESC text ESC NUL] within the buffer: the text is cut, never overrun.
  size_t room = kErrorReplySize - 1 - std::strlen(code) - 2;
  if (text.size() > room) text.resize(room);
  std::string payload;
  EncodeFields(&payload, {code, text}, 2);
  SendText(kTagError, payload.c_str());
}

Status MessageLink::Receive(ReceivedMessage* message) {
  *message = ReceivedMessage{};
  if (!channel_) return GetMessageStatus();
  WireHeader header;
  if (!header.Receive(*channel_)) {
    return channel_->GetError() == platform::kErrorBrokenPipe ? kStatusDisconnect : GetMessageStatus();
  }
  message->tag = header.tag();
  message->length = header.length();
  // Odd tags carry a value, not a length; a file's blocks are read by
  // ReceiveFile, not into the buffer.
  if ((header.tag() & 1) || (header.tag() == kTagData && header.length() > kMaxPayload)) return 0;
  if (header.length() > kMaxPayload) return GetMessageStatus();
  if (header.length() != 0) {
    uint32_t done = 0;
    if (!channel_->Receive(buffer_, header.length(), &done) || done != header.length() || channel_->WasTruncated())
      return GetMessageStatus();
    message->payload = buffer_;
  }
  buffer_[header.length()] = 0;
  return 0;
}

Status MessageLink::SendFile(const char* path) {
  if (!channel_) return PutFileStatus();
  Stream file;
  // Read access only: a fax file the sender may read but not write goes too.
  if (!file.Open(path, kGenericRead, kFileShareRead, kOpenExisting, kFileAttributeNormal)) return PutFileStatus();
  return SendFile(file);
}

Status MessageLink::SendFile(Stream& file) {
  if (!channel_ || !file.IsOpen()) return PutFileStatus();
  uint64_t size = 0;
  // The length field holds 32 bits; a larger file cannot be sent whole.
  if (!platform::HandleSize(file.GetHandle(), &size) || size > 0xFFFFFFFFu) return PutFileStatus();
  if (file.SeekToBegin() != 0) return PutFileStatus();
  WireHeader header;
  if (!header.Send(*channel_, kTagData, static_cast<uint32_t>(size))) return PutFileStatus();
  if (!file.CopyTo(*channel_, static_cast<uint32_t>(size))) return PutFileStatus();
  WireHeader answer;
  if (!answer.Receive(*channel_) || answer.tag() != kTagOk) return PutFileStatus();
  return 0;
}

Status MessageLink::ReceiveFile(const char* path, uint32_t maxBytes, uint32_t* announced) {
  TextFile file;
  return ReceiveInto(file, path, maxBytes, announced);
}

Status MessageLink::ReceiveFile(Stream& file) { return ReceiveInto(file, nullptr, 0xFFFFFFFFu, nullptr); }

Status MessageLink::ReceiveInto(Stream& file, const char* path, uint32_t maxBytes, uint32_t* announced) {
  if (announced) *announced = 0;
  if (!channel_) return GetFileStatus();
  Status status = 0;
  WireHeader header;
  const bool came = header.Receive(*channel_) && header.tag() == kTagData;
  if (came && announced) *announced = header.length();
  // A named file is made only once the announcement was accepted; an open
  // one is emptied through its handle.
  if (!came || header.length() > maxBytes || !(path ? file.Create(path) : file.IsOpen() && file.SetSize(0)) ||
      !channel_->CopyTo(file, header.length()))
    status = GetFileStatus();
  if (path) file.Close();
  WireHeader answer;
  if (!answer.Send(*channel_, status ? kTagError : kTagOk, 0)) status = GetFileStatus();
  return status;
}

int MessageLink::Listen(const RuntimeClass& channelClass, const std::atomic<bool>* stop) {
  Close();
  if (stop && stop->load()) return 0;
  std::unique_ptr<Stream> object(channelClass.CreateObject());
  auto* channel = dynamic_cast<NetworkChannel*>(object.get());
  if (!channel) return 0;
  object.release();
  channel_.reset(channel);
  if (!channel_->Connect(nullptr) || (stop && stop->load())) {
    Close();
    return 0;
  }
  return 1;
}

int MessageLink::WaitForClient() { return channel_ ? channel_->WaitForClient() : 0; }

int MessageLink::HandOver(Stream& target) { return channel_ ? channel_->HandOver(target) : 0; }

void MessageLink::Interrupt() {
  if (auto* pipe = dynamic_cast<ServerPipe*>(channel_.get())) pipe->Interrupt();
}

// ---- ClientMessageLink

int ClientMessageLink::Open(const char* server) {
  Close();
  std::unique_ptr<Stream> object(ClientPipe::kRuntimeClass.CreateObject());
  auto* channel = dynamic_cast<NetworkChannel*>(object.get());
  if (!channel) return 0;
  object.release();
  channel_.reset(channel);
  if (!channel_->Connect(server)) {
    channel_.reset();
    return 0;
  }
  return 1;
}

// ---- ServerHandshake

bool ServerHandshake::Handle(MessageLink& link, const ReceivedMessage& message) {
  switch (message.tag) {
    case kTagIntroduce:
      // Whole or not at all: cut, it could be another user's name.
      userName_ = UserRecord::FitsName(message.Text()) ? std::string(message.Text()) : std::string(kUnknownUser);
      return true;
    case kTagGetServerVersion: {
      uint8_t word[4];
      PutLong(word, serverVersion);
      link.SendData(kTagOk, word, sizeof word);
      return true;
    }
    case kTagReportClientVersion:
      // A report without its 4 bytes reports nothing.
      if (!message.Word(&clientVersion_)) clientVersion_ = 0;
      return true;
    default:
      return false;
  }
}

}  // namespace korvo
