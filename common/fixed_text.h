// A NUL-terminated text in a fixed character array of a stored record, so
// it holds N - 1 bytes. Assigning cuts the text to fit, never inside a UTF-8
// character, and zero-fills the rest; reading never runs past the array,
// even in a damaged record.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#include "common/utf8_cut.h"

namespace korvo {

template <std::size_t N>
struct FixedText {
  static_assert(N > 0);
  static constexpr std::size_t kCapacity = N - 1;

  void Clear() { std::memset(data, 0, N); }
  void Assign(std::string_view text) {
    const std::size_t n = Utf8CutLength(text, kCapacity);
    std::memcpy(data, text.data(), n);
    std::memset(data + n, 0, N - n);
  }
  std::string_view Get() const { return std::string_view(data, strnlen(data, kCapacity)); }
  std::string Str() const { return std::string(Get()); }
  bool Empty() const { return data[0] == '\0'; }

  char data[N];
};

}  // namespace korvo
