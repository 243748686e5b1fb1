#include "platform/pipe_frames.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace korvo::platform {

namespace {

// Messages taken or given per system call.
constexpr size_t kBatch = 64;

void PutLong(std::string* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

uint32_t GetLong(const char* p) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(p[i]);
  return v;
}

// After a read of 0 bytes: the peer's end, or an empty message it sent. A
// peer that sent more before it closed has not ended yet: the end comes only
// after all it sent (empty messages just before the end are no data).
bool PeerEnded(int fd) {
  pollfd h{fd, POLLRDHUP, 0};
  if (::poll(&h, 1, 0) != 1 || !(h.revents & (POLLRDHUP | POLLHUP))) return false;
  int queued = 0;
  return ::ioctl(fd, FIONREAD, &queued) != 0 || queued == 0;
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

Waiting AppendWaitingMessages(int fd, std::string* frames, size_t limit) {
  // Received into a buffer of the thread's own: a slot per message, not
  // cleared first, then appended behind the frame headers.
  thread_local std::unique_ptr<char[]> slots(new char[kBatch * kMaxFrameLength]);
  mmsghdr headers[kBatch];
  iovec iov[kBatch];
  while (frames->size() < limit) {
    const size_t room = (limit - frames->size()) / (kFrameHeaderSize + kMaxFrameLength) + 1;
    const size_t count = std::min(kBatch, room);
    for (size_t i = 0; i < count; ++i) {
      iov[i] = {slots.get() + i * kMaxFrameLength, kMaxFrameLength};
      headers[i] = {};
      headers[i].msg_hdr.msg_iov = &iov[i];
      headers[i].msg_hdr.msg_iovlen = 1;
    }
    int got;
    do got = ::recvmmsg(fd, headers, static_cast<unsigned>(count), MSG_DONTWAIT, nullptr);
    while (got < 0 && errno == EINTR);
    if (got < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? Waiting::kNone : Waiting::kEnd;
    int lastData = -1;
    for (int i = 0; i < got; ++i) {
      if (headers[i].msg_len > 0) lastData = i;
    }
    for (int i = 0; i < got; ++i) {
      const size_t n = headers[i].msg_len;
      if (headers[i].msg_hdr.msg_flags & MSG_TRUNC) return Waiting::kTooLong;
      // A read of 0 bytes with data after it in the batch is an empty message.
      if (n == 0 && i > lastData && PeerEnded(fd)) return Waiting::kEnd;
      AppendFrame(frames, std::string_view(slots.get() + i * kMaxFrameLength, n));
    }
    if (static_cast<size_t>(got) < count) break;  // no more waiting
  }
  return Waiting::kNone;
}

bool SendMessages(int fd, const std::vector<std::string_view>& messages) {
  mmsghdr headers[kBatch];
  iovec iov[kBatch];
  for (size_t done = 0; done < messages.size();) {
    const size_t count = std::min(kBatch, messages.size() - done);
    for (size_t i = 0; i < count; ++i) {
      iov[i] = {const_cast<char*>(messages[done + i].data()), messages[done + i].size()};
      headers[i] = {};
      headers[i].msg_hdr.msg_iov = &iov[i];
      headers[i].msg_hdr.msg_iovlen = 1;
    }
    int sent;
    do sent = ::sendmmsg(fd, headers, static_cast<unsigned>(count), MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    if (sent <= 0) return false;
    for (int i = 0; i < sent; ++i) {
      if (headers[i].msg_len != messages[done + i].size()) return false;
    }
    done += static_cast<size_t>(sent);
  }
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
