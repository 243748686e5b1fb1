#include "common/fields.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

namespace korvo {
namespace {

TEST(EncodeFields, EachFieldEndsWithEscape) {
  std::string out = "stale";
  EXPECT_EQ(EncodeFields(&out, {"a", "", "b"}, 3), 3);
  EXPECT_EQ(out, std::string("a\x1B\x1B" "b\x1B"));
  EXPECT_EQ(EncodeFields(nullptr, {"a"}, 1), 1);
  EXPECT_EQ(EncodeFields(&out, {"a", "b"}, 1), 1);
  EXPECT_EQ(out, "a\x1B");
  EXPECT_EQ(EncodeFields(&out, {}, 0), 0);
  EXPECT_EQ(out, "");
}

// Text a user types may hold the field mark; it must not move the values
// after it into other fields, so it goes out as a blank.
TEST(EncodeFields, AFieldMarkInsideAFieldBecomesABlank) {
  struct Case {
    std::vector<std::string> fields;
    std::vector<std::string> decoded;
  } cases[] = {
      {{"Re\x1B" "port", "Jane", "555"}, {"Re port", "Jane", "555"}},
      {{"\x1B", "", "x\x1B\x1B"}, {" ", "", "x  "}},
      {{"plain", "text", ""}, {"plain", "text", ""}},
  };
  for (const auto& c : cases) {
    std::string out;
    ASSERT_EQ(EncodeFields(&out, c.fields, 3), 3);
    EXPECT_EQ(std::count(out.begin(), out.end(), kFieldEnd), 3) << out;
    std::vector<std::string> fields(3);
    EXPECT_EQ(DecodeFields(out, fields), 3);
    EXPECT_EQ(fields, c.decoded);
    EncodeStringList(c.fields, out);
    EXPECT_EQ(std::count(out.begin(), out.end(), kFieldEnd), 3) << out;
  }
}

struct DecodeCase {
  const char* text;
  std::size_t size;
  int taken;
  std::vector<std::string> fields;
};

TEST(DecodeFields, TakesFieldsUntilTheTextEnds) {
  const DecodeCase cases[] = {
      {"a\x1B", 3, 1, {"a", "", ""}},
      {"a", 3, 1, {"a", "", ""}},
      {"", 3, 0, {"", "", ""}},
      {"a\x1B\x1B" "b\x1B", 3, 3, {"a", "", "b"}},
      {"a\x1B" "b\x1B" "c\x1B" "d\x1B", 2, 2, {"a", "b"}},  // extra fields unread
      {"\x1B\x1B", 3, 2, {"", "", ""}},
      {"x\x1By", 4, 2, {"x", "y", "", ""}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> fields(c.size, "stale");
    const std::string text = c.text;
    EXPECT_EQ(DecodeFields(text.c_str(), fields), c.taken) << text;
    EXPECT_EQ(fields, c.fields) << text;
    EXPECT_EQ(text, c.text);
  }
}

TEST(DecodeFields, NullTextEmptiesEverything) {
  std::vector<std::string> fields(2, "stale");
  EXPECT_EQ(DecodeFields(static_cast<const char*>(nullptr), fields), 0);
  EXPECT_EQ(fields, (std::vector<std::string>{"", ""}));
}

TEST(StringList, RoundTripAndShortText) {
  std::string out;
  EncodeStringList({"one", "", "three"}, out);
  EXPECT_EQ(out, std::string("one\x1B\x1Bthree\x1B"));
  std::vector<std::string> list = {"kept"};
  EXPECT_EQ(DecodeStringList(list, "x\x1By\x1B", 4), 4);
  EXPECT_EQ(list, (std::vector<std::string>{"kept", "x", "y", "", ""}));
}

TEST(ParseDecimal, ReadsLeadingNumberAndSaturates) {
  const std::pair<const char*, int32_t> cases[] = {
      {"42", 42}, {"-7", -7}, {"  +5x", 5}, {"abc", 0}, {"", 0}, {"12abc", 12},
      {"99999999999", INT_MAX}, {"-99999999999", INT_MIN}, {"2147483647", INT_MAX}, {"-2147483648", INT_MIN},
      // Past 2^64 the digits must not wrap the value round to a small one.
      {"100000000000000000000", INT_MAX}, {"9999999999999999999999", INT_MAX},
      {"-100000000000000000000", INT_MIN}, {"50000000000000000000", INT_MAX},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(ParseDecimal(text), value) << text;
  EXPECT_EQ(ParseUnsignedDecimal("4294967295"), 4294967295u);
  EXPECT_EQ(ParseUnsignedDecimal("99999999999"), 4294967295u);
  EXPECT_EQ(ParseUnsignedDecimal("100000000000000000063"), 4294967295u);
  EXPECT_EQ(ParseUnsignedDecimal("63"), 63u);
  EXPECT_EQ(ParseUnsignedDecimal("-1"), 4294967295u);
  EXPECT_EQ(ParseUnsignedDecimal("x"), 0u);
}

}  // namespace
}  // namespace korvo
