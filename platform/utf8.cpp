#include "platform/utf8.h"

#include <cstdint>

namespace korvo::platform {

std::string ValidUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out += text[i++];
      continue;
    }
    size_t n = 0;
    uint32_t code = 0, least = 0;
    if ((c & 0xE0) == 0xC0) n = 2, code = c & 0x1F, least = 0x80;
    else if ((c & 0xF0) == 0xE0) n = 3, code = c & 0x0F, least = 0x800;
    else if ((c & 0xF8) == 0xF0) n = 4, code = c & 0x07, least = 0x10000;
    bool valid = n != 0 && i + n <= text.size();
    for (size_t k = 1; valid && k < n; ++k) {
      const auto d = static_cast<unsigned char>(text[i + k]);
      valid = (d & 0xC0) == 0x80;
      code = code << 6 | (d & 0x3F);
    }
    // Neither overlong, nor a surrogate, nor past the last code point.
    valid = valid && code >= least && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
    if (valid) {
      out.append(text.substr(i, n));
      i += n;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out;
}

}  // namespace korvo::platform
