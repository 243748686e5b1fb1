// The telephone number forms of Numsnip and ExtraKorvoNumber, which cuts a
// line down to the number in it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace korvo::numsnip {

// The forms in the Like pattern language (# a digit), in the order they are
// tried: the nine with an area code, then the two local ones. With
// `areaCodesOnly` only the nine.
std::vector<std::string_view> NumberForms(bool areaCodesOnly);

// Whether a number form (of those `areaCodesOnly` allows) begins at `at`, or
// ends just before `end`.
bool FormBeginsAt(std::string_view text, size_t at, bool areaCodesOnly);
bool FormEndsAt(std::string_view text, size_t end, bool areaCodesOnly);

// What remains of `text` when its first character is dropped until it starts
// with a number form and then its last character until it ends with one: from
// the first number to the end of the last, empty when the line holds none.
// Linear in the length of the text: each start and each end is tested once
// against the fixed-length forms. `formTests`, when given, grows by the number
// of (form, place) tests made.
std::string ExtraKorvoNumber(std::string_view text, bool areaCodesOnly, size_t* formTests = nullptr);

}  // namespace korvo::numsnip
