#include "extractor/like.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace korvo::numsnip {
namespace {

// Character codes: a valid UTF-8 sequence is its code point; a byte that is
// not part of one is placed above every code point, so it equals only itself.
constexpr uint32_t kLoneByte = 0x110000;

// The code of the character at s[i] and its length in bytes.
std::pair<uint32_t, size_t> Decode(std::string_view s, size_t i) {
  auto b = static_cast<uint8_t>(s[i]);
  if (b < 0x80) return {b, 1};
  size_t len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 ? 2 : 0;
  if (len == 0 || b > 0xF4 || i + len > s.size()) return {kLoneByte + b, 1};
  uint32_t code = b & (0x7F >> len);
  for (size_t k = 1; k < len; ++k) {
    auto c = static_cast<uint8_t>(s[i + k]);
    if ((c & 0xC0) != 0x80) return {kLoneByte + b, 1};
    code = code << 6 | (c & 0x3F);
  }
  // Overlong forms, surrogates and codes beyond Unicode are not valid UTF-8.
  static constexpr uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kMin[len] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return {kLoneByte + b, 1};
  return {code, len};
}

std::vector<uint32_t> Characters(std::string_view s) {
  std::vector<uint32_t> out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    auto [code, len] = Decode(s, i);
    out.push_back(code);
    i += len;
  }
  return out;
}

// One step of a pattern; every kind but kStar matches exactly one character.
struct Token {
  enum Kind { kStar, kAny, kDigit, kChar, kList } kind;
  uint32_t code = 0;                                // kChar
  bool negated = false;                             // kList
  std::vector<std::pair<uint32_t, uint32_t>> ranges;  // kList, inclusive

  bool Matches(uint32_t c) const {
    switch (kind) {
      case kAny: return true;
      case kDigit: return c >= '0' && c <= '9';
      case kChar: return c == code;
      case kList: {
        bool in = false;
        for (auto [lo, hi] : ranges) in = in || (c >= lo && c <= hi);
        return in != negated;
      }
      case kStar: break;
    }
    return false;
  }
};

std::vector<Token> Parse(const std::vector<uint32_t>& p) {
  std::vector<Token> tokens;
  for (size_t i = 0; i < p.size(); ++i) {
    uint32_t c = p[i];
    if (c == '*') {
      // Runs of stars are one star.
      if (tokens.empty() || tokens.back().kind != Token::kStar) tokens.push_back(Token{Token::kStar, 0, false, {}});
    } else if (c == '?') {
      tokens.push_back(Token{Token::kAny, 0, false, {}});
    } else if (c == '#') {
      tokens.push_back(Token{Token::kDigit, 0, false, {}});
    } else if (c != '[') {
      tokens.push_back(Token{Token::kChar, c, false, {}});
    } else {
      size_t j = i + 1;
      Token list{Token::kList, 0, false, {}};
      if (j < p.size() && p[j] == '!') {
        list.negated = true;
        ++j;
      }
      bool closed = false;
      for (; j < p.size(); ++j) {
        if (p[j] == ']') {
          closed = true;
          break;
        }
        // "x-y" is a range; a '-' first or last has no two ends and is itself.
        bool range = j + 2 < p.size() && p[j + 1] == '-' && p[j + 2] != ']';
        if (range) {
          if (p[j + 2] < p[j]) throw InvalidPattern("descending range in the pattern");
          list.ranges.emplace_back(p[j], p[j + 2]);
          j += 2;
        } else {
          list.ranges.emplace_back(p[j], p[j]);
        }
      }
      if (!closed) throw InvalidPattern("unclosed [ in the pattern");
      // "[]" is the empty string: it matches no character at all.
      if (!list.ranges.empty() || list.negated) tokens.push_back(std::move(list));
      i = j;
    }
  }
  return tokens;
}

}  // namespace

bool Like(std::string_view text, std::string_view pattern) {
  std::vector<Token> tokens = Parse(Characters(pattern));
  std::vector<uint32_t> chars = Characters(text);
  // Every token but a star takes one character, so backtracking to the last
  // star is enough (and never exponential).
  size_t t = 0, c = 0;
  size_t starToken = SIZE_MAX, starChar = 0;
  while (c < chars.size()) {
    if (t < tokens.size() && tokens[t].kind == Token::kStar) {
      starToken = t++;
      starChar = c;
    } else if (t < tokens.size() && tokens[t].Matches(chars[c])) {
      ++t;
      ++c;
    } else if (starToken != SIZE_MAX) {
      t = starToken + 1;
      c = ++starChar;
    } else {
      return false;
    }
  }
  while (t < tokens.size() && tokens[t].kind == Token::kStar) ++t;
  return t == tokens.size();
}

}  // namespace korvo::numsnip
