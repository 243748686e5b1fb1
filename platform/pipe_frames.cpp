#include "platform/pipe_frames.h"

#include <cstring>

namespace korvo::platform {

namespace {

void PutLong(std::string* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

uint32_t GetLong(const char* p) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(p[i]);
  return v;
}

}  // namespace

std::string EncodeFrame(std::string_view message) {
  std::string out;
  AppendFrame(&out, message);
  return out;
}

void AppendFrame(std::string* out, std::string_view message) {
  PutLong(out, static_cast<uint32_t>(message.size()));
  out->append(message);
}

void AppendMark(std::string* out, uint32_t mark) { PutLong(out, mark); }

void SetFrameLength(char* header, uint32_t length) {
  for (int i = 0; i < 4; ++i) header[i] = static_cast<char>((length >> (8 * i)) & 0xFF);
}

std::string EncodeGreeting(uint32_t error) {
  std::string out(kRelayMagic, sizeof kRelayMagic);
  PutLong(&out, error);
  return out;
}

bool DecodeGreeting(const char* bytes, size_t size, uint32_t* error) {
  if (size != kGreetingSize || std::memcmp(bytes, kRelayMagic, sizeof kRelayMagic) != 0) return false;
  *error = GetLong(bytes + sizeof kRelayMagic);
  return true;
}

void FrameReader::Feed(const void* data, size_t size) {
  if (malformed_ || size == 0) return;
  // Drop what was handed out already before the buffer grows.
  if (start_ == buffer_.size()) {
    buffer_.clear();
    start_ = 0;
  } else if (start_ > 0 && start_ * 2 >= buffer_.size()) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
  buffer_.append(static_cast<const char*>(data), size);
}

FrameReader::Item FrameReader::Take(std::string_view* message) {
  if (malformed_ || pending() < kFrameHeaderSize) return kNone;
  const uint32_t length = GetLong(buffer_.data() + start_);
  if (sessions_ && (length == kFrameOpen || length == kFrameEnd)) {
    start_ += kFrameHeaderSize;
    return length == kFrameOpen ? kOpen : kEnd;
  }
  if (length > kMaxFrameLength) {
    malformed_ = true;
    buffer_.clear();
    start_ = 0;
    return kNone;
  }
  if (pending() < kFrameHeaderSize + length) return kNone;
  *message = std::string_view(buffer_).substr(start_ + kFrameHeaderSize, length);
  start_ += kFrameHeaderSize + length;
  return kMessage;
}

FrameReader::Item FrameReader::Take(std::string* message) {
  std::string_view view;
  const Item item = Take(&view);
  if (item == kMessage) message->assign(view);
  return item;
}

}  // namespace korvo::platform
