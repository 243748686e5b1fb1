// The server's pipe carried over a byte stream (an SSH connection): every
// message travels as a frame, a 4-byte little-endian length and that many
// bytes, so message boundaries survive the stream. The relay at the server's
// end opens the stream with a greeting: a magic word and the outcome of its
// connect to the server socket.
//
// A relay started for sessions one after another (korvo-relay --sessions)
// keeps its stream after a session: either end closes a session with an end
// mark (the answer to it is the other's end mark), and the client asks for
// the next with an open mark, which the relay answers with a new greeting.
// The marks are lengths no message has, so a relay or client that knows no
// sessions refuses them as oversize frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvo::platform {

// No message of the protocol is longer (a payload, a file block); a frame
// announcing more is refused by both ends.
inline constexpr uint32_t kMaxFrameLength = 4096;
inline constexpr size_t kFrameHeaderSize = 4;
inline constexpr char kRelayMagic[4] = {'K', 'V', 'R', '1'};
inline constexpr size_t kGreetingSize = 8;

// The marks between sessions: a length word and nothing after it.
inline constexpr uint32_t kFrameOpen = 0xFFFFFFFD;
inline constexpr uint32_t kFrameEnd = 0xFFFFFFFE;

// The frame of one message.
std::string EncodeFrame(std::string_view message);
// Appends the frame, or a mark.
void AppendFrame(std::string* out, std::string_view message);
void AppendMark(std::string* out, uint32_t mark);
// The greeting: magic, then the connect's error code (0: connected).
std::string EncodeGreeting(uint32_t error);
// False when the bytes are no greeting; else the relay's error code.
bool DecodeGreeting(const char* bytes, size_t size, uint32_t* error);

// What AppendWaitingMessages found after the messages it took.
enum class Waiting { kNone, kEnd, kTooLong };

// Takes the messages waiting on a message socket, without blocking, many per
// call, and appends their frames to *frames until none waits or *frames
// holds limit bytes. kEnd at the
// peer's end (or a reset); kTooLong for a message longer than any the
// protocol sends, which is not added.
Waiting AppendWaitingMessages(int fd, std::string* frames, size_t limit);

// Sends each message as one message on a message socket, many per call;
// false when the peer takes no more.
bool SendMessages(int fd, const std::vector<std::string_view>& messages);

// Splits a byte stream into messages as its pieces come. A length above
// kMaxFrameLength makes the stream malformed for good: nothing more comes out.
// A reader of sessions takes the marks as well.
class FrameReader {
 public:
  enum Item { kNone, kMessage, kOpen, kEnd };
  explicit FrameReader(bool sessions = false) : sessions_(sessions) {}
  // Takes the next piece of the stream.
  void Feed(const void* data, size_t size);
  // The next whole message, when one is complete.
  bool Next(std::string* message) { return Take(message) == kMessage; }
  // The next message or mark; the view holds until the next Feed or Take.
  Item Take(std::string_view* message);
  Item Take(std::string* message);
  bool malformed() const { return malformed_; }
  // Bytes that belong to a frame not yet complete.
  size_t pending() const { return buffer_.size() - start_; }

 private:
  std::string buffer_;
  size_t start_ = 0;
  bool sessions_;
  bool malformed_ = false;
};

}  // namespace korvo::platform
