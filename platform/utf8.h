// Texts from files and records typed anywhere, made fit for what takes only
// UTF-8 (cairo, the toolkit's controls).
#pragma once

#include <string>
#include <string_view>

namespace korvo::platform {

// The text with every byte that does not begin a valid UTF-8 sequence (an
// overlong form, a surrogate, past U+10FFFF, cut short) replaced by U+FFFD.
std::string ValidUtf8(std::string_view text);

}  // namespace korvo::platform
