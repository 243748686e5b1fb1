// The message table: every status code with its English and Croatian text.
// A program carries it by linking korvo_messages, which exports it under the
// C name KvMessageTable; GetStatusText finds it there at run time (in the
// main program, or in the library named by the machine value "KorvoCore"),
// so the layout below is shared between separately built modules.
#pragma once

#include <cstdint>

extern "C" {

struct KvMessage {
  uint32_t code;
  const char* english;   // UTF-8, no line end; two-line texts hold CR LF
  const char* croatian;  // UTF-8, no line end
};

struct KvMessages {
  uint32_t count;
  const KvMessage* entries;  // ascending by code
};

}  // extern "C"

namespace korvo {

constexpr char kMessageTableSymbol[] = "KvMessageTable";

}  // namespace korvo
