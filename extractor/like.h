// The pattern test of Numsnip: the form designer's Like operator with binary
// comparison. The whole text must match. `?` is one character, `*` zero or
// more, `#` one digit 0-9, `[list]` one character of the list and `[!list]`
// one not in it; in a list `a-z` is a range by character code, and `-` first
// (after `!`) or last stands for itself, as do `[`, `*`, `?` and `#`; `]` and
// `!` outside a list are themselves; `[]` is the empty string. A character is
// a UTF-8 sequence, or one byte where the bytes are not valid UTF-8.
#pragma once

#include <stdexcept>
#include <string_view>

namespace korvo::numsnip {

// A descending range or an unclosed `[`.
class InvalidPattern : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws InvalidPattern for an invalid pattern, whatever the text.
bool Like(std::string_view text, std::string_view pattern);

}  // namespace korvo::numsnip
