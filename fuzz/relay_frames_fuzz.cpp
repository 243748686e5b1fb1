// Feeds an arbitrary SSH stream to the frame reader of the relay and the
// client's bridge. Input: one byte that sets the size of the pieces the
// stream arrives in (1 to 256 bytes), then the stream. Every message that
// comes out must fit the protocol's largest, re-encode to the stream it came
// from, and nothing may come after a refused length.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/pipe_frames.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace korvo::platform;
  if (size < 1) return 0;
  const size_t piece = static_cast<size_t>(data[0]) + 1;
  const std::string stream(reinterpret_cast<const char*>(data + 1), size - 1);
  FrameReader reader;
  std::string again;
  bool refused = false;
  for (size_t at = 0; at < stream.size(); at += piece) {
    reader.Feed(stream.data() + at, std::min(piece, stream.size() - at));
    std::string message;
    while (reader.Next(&message)) {
      if (refused || message.size() > kMaxFrameLength) std::abort();
      again += EncodeFrame(message);
    }
    refused = refused || reader.malformed();
  }
  if (stream.compare(0, again.size(), again) != 0) std::abort();
  if (!refused && again.size() + reader.pending() != stream.size()) std::abort();
  return 0;
}
