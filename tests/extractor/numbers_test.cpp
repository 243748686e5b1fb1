#include "extractor/numbers.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "extractor/like.h"

namespace korvo::numsnip {
namespace {

// The two loops as the form designer's program runs them, through Like; the
// oracle for short lines.
std::string TwoLoops(std::string text, bool areaCodesOnly) {
  auto forms = NumberForms(areaCodesOnly);
  auto any = [&](const std::string& before, const std::string& after) {
    for (auto form : forms)
      if (Like(text, before + std::string(form) + after)) return true;
    return false;
  };
  for (size_t n = text.size(); n > 0; --n)
    if (!any("", "*")) text.erase(0, 1);
  for (size_t n = text.size(); n > 0; --n)
    if (!any("*", "")) text.pop_back();
  return text;
}

TEST(ExtraKorvoNumber, CutsALineToItsNumber) {
  struct Case {
    const char* line;
    bool areaCodesOnly;
    const char* number;
  } cases[] = {
      {"fax: (555) 123-4567 (office)", false, "(555) 123-4567"},
      {"phone 555-1234", false, "555-1234"},
      {"phone 555-1234", true, ""},
      {"1-800-555-1234", false, "800-555-1234"},
      {"fax 555-1234 or 555-9876", false, "555-1234 or 555-9876"},  // from the first number to the end of the last
      {"5551234567", false, ""},
      {"", false, ""},
      {"fax", false, ""},
      {"(555)-123-4567", true, "(555)-123-4567"},
      {"555 123 4567x", true, "555 123 4567"},
      {"(555)123 4567", true, "(555)123 4567"},
      {"555-123 4567", true, "555-123 4567"},
      {"tel. 555 1234.", false, "555 1234"},
      {"fax ٣٣٣-1234 / 555-12345", false, "555-1234"},
      {"é555-1234é", false, "555-1234"},
      {"\xff" "555-1234\xc3", false, "555-1234"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(ExtraKorvoNumber(c.line, c.areaCodesOnly), c.number);
    EXPECT_EQ(TwoLoops(c.line, c.areaCodesOnly), c.number) << "the loops themselves";
  }
}

TEST(ExtraKorvoNumber, GivesWhatTheTwoLoopsGive) {
  // Short lines drawn from the characters the forms are made of.
  std::mt19937 random(1234);
  const std::string alphabet = "0123456789 ()-x";
  for (int round = 0; round < 3000; ++round) {
    std::string line;
    for (int n = int(random() % 24); n > 0; --n) line += alphabet[random() % alphabet.size()];
    for (bool areaCodesOnly : {false, true})
      ASSERT_EQ(ExtraKorvoNumber(line, areaCodesOnly), TwoLoops(line, areaCodesOnly))
          << '"' << line << "\" area codes only " << areaCodesOnly;
  }
}

TEST(ExtraKorvoNumber, TestsEachStartAndEachEndOnce) {
  // A megabyte of text with its number at the very end: the form tests stay a
  // few per character, where testing the rest of the line at every start
  // would take millions per character.
  std::string line(1 << 20, 'w');
  line += " 555-1234";
  size_t tests = 0;
  EXPECT_EQ(ExtraKorvoNumber(line, false, &tests), "555-1234");
  EXPECT_GT(tests, line.size());
  EXPECT_LE(tests, 11 * (line.size() + 1));
}

}  // namespace
}  // namespace korvo::numsnip
