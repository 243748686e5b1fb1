// The record text encoding: an ordered array of text fields, each followed by
// the byte 0x1B (the last one too). Fields never contain 0x1B or NUL: the
// encoders write a 0x1B inside a field as a blank.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvo {

inline constexpr char kFieldEnd = '\x1B';

// out := the first count fields, each followed by 0x1B; returns count.
// A null out writes nothing. Fields past the end of the array are empty.
int EncodeFields(std::string* out, const std::vector<std::string>& fields, int count);

// Fills the pre-sized array from the text, one field per element; when the
// text runs out, the remaining elements become empty. Returns the number of
// elements taken from the text; a null text returns 0 and empties them all.
int DecodeFields(const char* text, std::vector<std::string>& fields);
int DecodeFields(std::string_view text, std::vector<std::string>& fields);

// Every string of the list, each followed by 0x1B.
void EncodeStringList(const std::vector<std::string>& list, std::string& out);
// Appends count fields of the text to the list (empty ones where the text ends).
int DecodeStringList(std::vector<std::string>& list, std::string_view text, int count);

// Numbers in record texts are decimal. Leading blanks and a sign are allowed,
// reading stops at the first other character, and a text without digits
// reads as 0. Values beyond the type saturate.
int32_t ParseDecimal(std::string_view text);
// As ParseDecimal for unsigned fields (the rights word); a minus sign negates
// modulo 2^32 as the C library's strtoul does.
uint32_t ParseUnsignedDecimal(std::string_view text);

}  // namespace korvo
