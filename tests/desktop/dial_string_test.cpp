#include "desktop/dial_string.h"

#include <gtest/gtest.h>

#include <string>

namespace korvo::desktop {
namespace {

TEST(DialString, AdmitsOnlyTheCharactersOfADialString) {
  const std::string admitted = " #()*,-0123456789ABCDPTW";
  for (int c = 0; c < 0x300; ++c) {
    bool expected = admitted.find(char(c)) != std::string::npos && c < 128 && c != 0;
    if (c == 3 || c == 8 || c == 22) expected = true;  // Ctrl-C, Backspace, Ctrl-V
    EXPECT_EQ(DialStringAccepts(c), expected) << "character " << c;
  }
  struct Case {
    int character;
    bool admitted;
  } named[] = {
      {'a', false}, {'p', false}, {'w', false}, {'E', false}, {'+', false}, {'.', false}, {'/', false},
      {1, false},   {24, false},  {26, false},  {0, false},   {-1, false},  {0x663, false},  // ARABIC-INDIC DIGIT THREE
      {0x10000 + 'A', false},
  };
  for (const auto& c : named) EXPECT_EQ(DialStringAccepts(c.character), c.admitted) << "character " << c.character;
}

}  // namespace
}  // namespace korvo::desktop
