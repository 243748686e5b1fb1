// Feeds an arbitrary SSH stream to the frame reader of the relay and the
// client's bridge. Input: one byte whose low seven bits set the size of the
// pieces the stream arrives in (1 to 128 bytes) and whose top bit asks for a
// reader of sessions (marks between messages), then the stream. Every
// message that comes out must fit the protocol's largest, messages and marks
// must re-encode to the stream they came from, and nothing may come after a
// refused length.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/pipe_frames.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace korvo::platform;
  if (size < 1) return 0;
  const size_t piece = static_cast<size_t>(data[0] & 0x7F) + 1;
  const std::string stream(reinterpret_cast<const char*>(data + 1), size - 1);
  FrameReader reader((data[0] & 0x80) != 0);
  std::string again;
  bool refused = false;
  for (size_t at = 0; at < stream.size(); at += piece) {
    reader.Feed(stream.data() + at, std::min(piece, stream.size() - at));
    std::string message;
    for (FrameReader::Item item; (item = reader.Take(&message)) != FrameReader::kNone;) {
      if (refused || message.size() > kMaxFrameLength) std::abort();
      if (item == FrameReader::kMessage) again += EncodeFrame(message);
      else AppendMark(&again, item == FrameReader::kEnd ? kFrameEnd : kFrameOpen);
      message.clear();
    }
    refused = refused || reader.malformed();
  }
  if (stream.compare(0, again.size(), again) != 0) std::abort();
  if (!refused && again.size() + reader.pending() != stream.size()) std::abort();
  return 0;
}
