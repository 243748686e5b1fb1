#include "extractor/like.h"

#include <gtest/gtest.h>

#include <string>

namespace korvo::numsnip {
namespace {

enum Outcome { kFalse, kTrue, kError };

struct LikeCase {
  std::string text;
  std::string pattern;
  Outcome outcome;
};

// Test names hold the case; bytes beyond printable ASCII are shown as \xNN.
std::string Shown(const std::string& s) {
  std::string out;
  for (unsigned char b : s) {
    char hex[8];
    snprintf(hex, sizeof hex, "\\x%02x", b);
    out += b >= 0x20 && b < 0x7f ? std::string(1, char(b)) : std::string(hex);
  }
  return out;
}

void PrintTo(const LikeCase& c, std::ostream* os) {
  *os << '"' << Shown(c.text) << "\" Like \"" << Shown(c.pattern) << '"';
}

class LikeTable : public ::testing::TestWithParam<LikeCase> {};

TEST_P(LikeTable, MatchesAsTheOperator) {
  const LikeCase& c = GetParam();
  if (c.outcome == kError) {
    EXPECT_THROW(Like(c.text, c.pattern), InvalidPattern);
  } else {
    EXPECT_EQ(Like(c.text, c.pattern), c.outcome == kTrue);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Operator, LikeTable,
    ::testing::Values(
        // The whole text must match.
        LikeCase{"(555) 123-4567 (office)", "(###) ###-####*", kTrue}, LikeCase{"555-12345", "###-####", kFalse},
        LikeCase{"x 555-1234", "*###-####", kTrue}, LikeCase{"x 555-1234 y", "*###-####", kFalse},
        LikeCase{"", "*", kTrue}, LikeCase{"", "", kTrue}, LikeCase{"a", "", kFalse}, LikeCase{"", "?", kFalse},
        LikeCase{"aXbXc", "a*c", kTrue}, LikeCase{"aXbXcX", "a*c", kFalse}, LikeCase{"abd", "a**c", kFalse},
        LikeCase{"ac", "a**c", kTrue}, LikeCase{"fax: 1", "*fax*", kTrue}, LikeCase{"fa x", "*fax*", kFalse},
        LikeCase{"aaab", "*a*ab", kTrue},
        // A character is a UTF-8 sequence, or one byte that is not part of one.
        LikeCase{"é", "?", kTrue}, LikeCase{"é", "??", kFalse}, LikeCase{"€", "?", kTrue},
        LikeCase{"\xff", "?", kTrue}, LikeCase{"\xc3", "?", kTrue}, LikeCase{"\xc3(", "??", kTrue},
        LikeCase{"\xe2\x82", "??", kTrue}, LikeCase{"\xed\xa0\x80", "???", kTrue}, LikeCase{"é", "[é]", kTrue},
        LikeCase{std::string("a\0b", 3), "a?b", kTrue},
        // Digits are 0-9 only.
        LikeCase{"٣", "#", kFalse}, LikeCase{"7", "#", kTrue}, LikeCase{"x", "#", kFalse}, LikeCase{"12", "#", kFalse},
        // Lists and ranges by character code.
        LikeCase{"b", "[a-c]", kTrue}, LikeCase{"d", "[a-c]", kFalse}, LikeCase{"b", "[!a-c]", kFalse},
        LikeCase{"d", "[!a-c]", kTrue}, LikeCase{"B", "[a-c]", kFalse}, LikeCase{"x", "[xyz]", kTrue},
        LikeCase{"5", "[0-36-9]", kFalse}, LikeCase{"7", "[0-36-9]", kTrue}, LikeCase{"ž", "[a-ž]", kTrue},
        LikeCase{"a", "[a-a]", kTrue},
        // '-' first (after '!') or last is itself.
        LikeCase{"-", "[a-]", kTrue}, LikeCase{"-", "[-a]", kTrue}, LikeCase{"-", "[!-a]", kFalse},
        LikeCase{"b", "[!-a]", kTrue}, LikeCase{"-", "[a-b-c]", kTrue},
        // Special characters in a list are themselves.
        LikeCase{"*", "[*]", kTrue}, LikeCase{"x", "[*]", kFalse}, LikeCase{"1", "[#]", kFalse},
        LikeCase{"#", "[#]", kTrue}, LikeCase{"?", "[?]", kTrue}, LikeCase{"a", "[?]", kFalse},
        LikeCase{"[", "[[]", kTrue},
        // ']' and '!' outside a list are themselves; "[]" is the empty string.
        LikeCase{"]", "]", kTrue}, LikeCase{"!", "!", kTrue}, LikeCase{"ab", "a[]b", kTrue},
        LikeCase{"a]b", "a[]]b", kTrue}, LikeCase{"", "[]", kTrue},
        // Binary comparison.
        LikeCase{"A", "a", kFalse}, LikeCase{"FAX", "*fax*", kFalse},
        // Invalid patterns, whatever the text.
        LikeCase{"x", "[z-a]", kError}, LikeCase{"", "[z-a]", kError}, LikeCase{"a", "a[", kError},
        LikeCase{"[", "[", kError}, LikeCase{"ab", "*[ab", kError}, LikeCase{"no", "yes[z-a]", kError}));

TEST(Like, LongTextsWithStarsStayFast) {
  // Backtracking only to the last star: a text of 200000 characters costs no
  // more than its length times the pattern's.
  std::string text(200000, 'a');
  EXPECT_FALSE(Like(text, "*a*a*a*a*b"));
  EXPECT_TRUE(Like(text + "b", "*a*a*a*a*b"));
}

}  // namespace
}  // namespace korvo::numsnip
