#include "extractor/numbers.h"

#include <array>

namespace korvo::numsnip {
namespace {

constexpr std::array<std::string_view, 11> kForms = {
    "(###)-###-####", "###-###-####",   "### ###-####",   "###-### ####",  "### ### ####", "(###) ###-####",
    "(###) ### ####", "(###)### ####", "(###)###-####", "### ####",      "###-####",
};
constexpr size_t kAreaCodeForms = 9;

// The forms hold only ASCII, and '#' takes an ASCII digit, so a form matches at
// a byte offset exactly when it matches the character there: a byte inside or
// outside a UTF-8 sequence that is not ASCII matches no place of any form.
bool FormAt(std::string_view text, size_t at, std::string_view form) {
  if (at + form.size() > text.size()) return false;
  for (size_t k = 0; k < form.size(); ++k) {
    char c = text[at + k];
    if (form[k] == '#' ? !(c >= '0' && c <= '9') : c != form[k]) return false;
  }
  return true;
}

}  // namespace

std::vector<std::string_view> NumberForms(bool areaCodesOnly) {
  return {kForms.begin(), kForms.begin() + (areaCodesOnly ? kAreaCodeForms : kForms.size())};
}

bool FormBeginsAt(std::string_view text, size_t at, bool areaCodesOnly) {
  for (size_t i = 0; i < (areaCodesOnly ? kAreaCodeForms : kForms.size()); ++i)
    if (FormAt(text, at, kForms[i])) return true;
  return false;
}

bool FormEndsAt(std::string_view text, size_t end, bool areaCodesOnly) {
  for (size_t i = 0; i < (areaCodesOnly ? kAreaCodeForms : kForms.size()); ++i)
    if (end >= kForms[i].size() && FormAt(text, end - kForms[i].size(), kForms[i])) return true;
  return false;
}

std::string ExtraKorvoNumber(std::string_view text, bool areaCodesOnly, size_t* formTests) {
  std::vector<std::string_view> forms = NumberForms(areaCodesOnly);
  size_t tests = 0;
  // Tests the forms in their order; the first that matches stops the test.
  auto formMatches = [&](auto&& test) {
    for (std::string_view form : forms) {
      ++tests;
      if (test(form)) return true;
    }
    return false;
  };
  // The first start where a form begins...
  size_t begin = 0;
  while (begin < text.size() && !formMatches([&](std::string_view f) { return FormAt(text, begin, f); })) ++begin;
  std::string result;
  if (begin < text.size()) {
    // ...and the last end after it where a form ends (there is one: the form at `begin`).
    size_t end = text.size();
    while (!formMatches([&](std::string_view f) { return end >= begin + f.size() && FormAt(text, end - f.size(), f); }))
      --end;
    result.assign(text.substr(begin, end - begin));
  }
  if (formTests) *formTests += tests;
  return result;
}

}  // namespace korvo::numsnip
