// Cutting a UTF-8 text to a byte limit, as stored records and lines must be:
// never inside a character, since half a sequence shows as nothing (or as a
// replacement mark) wherever the text is read back.
#pragma once

#include <cstddef>
#include <string_view>

namespace korvo {

// How many bytes of text to keep within maxBytes: all of a text that fits,
// else up to the start of the character the limit falls in.
inline std::size_t Utf8CutLength(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text.size();
  std::size_t end = maxBytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return end;
}

inline std::string_view Utf8Cut(std::string_view text, std::size_t maxBytes) {
  return text.substr(0, Utf8CutLength(text, maxBytes));
}

}  // namespace korvo
