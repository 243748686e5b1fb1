// Texts and comparisons the lists share: the list date and duration formats
// and the case-blind text comparison of the sort callbacks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace korvo::manager {

// "month/dd/yy h:mm AM" in local time, the hour on a 12-hour clock.
std::string FormatListDate(int64_t secondsSince1970);
// "h:m:s" from one hour on, else "m:s", without leading zeros.
std::string FormatDuration(int64_t seconds);

// The text's first characters that fit in maxBytes bytes: a UTF-8 character
// is never split, since a row with half a character would show nothing.
std::string CutToBytes(const std::string& text, size_t maxBytes);

// Byte by byte with letters as lower case: negative, 0 or positive.
int CompareNoCase(const std::string& a, const std::string& b);
// first minus second, as a sign.
inline int CompareNumbers(int64_t a, int64_t b) { return (a > b) - (a < b); }
// The sort parameter's order applied to a result.
inline int Ordered(int result, uint32_t sortParameter) { return (sortParameter >> 16) ? -result : result; }

}  // namespace korvo::manager
