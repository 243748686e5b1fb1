#include "common/entries.h"

#include <gtest/gtest.h>

#include "common/fields.h"

namespace korvo {
namespace {

TEST(RegisteredUserEntry, DecodesItsEightFields) {
  const RegisteredUserEntry e("jane\x1BJane Doe\x1B" "4294967295\x1B" "desc\x1Bj@x\x1BVelmora\x1B" "55\x1B" "56\x1B");
  EXPECT_EQ(e.userName, "jane");
  EXPECT_EQ(e.rights, 4294967295u);
  EXPECT_EQ(e.phoneNumber, "56");
  EXPECT_EQ(e.ToArray(),
            (std::vector<std::string>{"jane", "Jane Doe", "4294967295", "desc", "j@x", "Velmora", "55", "56"}));
  EXPECT_EQ(e.GetDisplayName(), "Jane Doe");
  EXPECT_EQ(e.GetLabel(), "Jane Doe: jane");
  const RegisteredUserEntry bare("bob\x1B");
  EXPECT_EQ(bare.GetDisplayName(), "bob");
  EXPECT_EQ(bare.GetLabel(), "bob");
  EXPECT_EQ(bare.rights, 0u);
}

TEST(AddressEntry, FullAndSortNames) {
  struct Case {
    const char *first, *last, *company, *full, *sort;
  };
  const Case cases[] = {
      {"Ana", "Kos", "Acme", "Ana Kos", "Kos, Ana"},
      {"Ana", "", "Acme", "Ana", "Ana"},
      {"", "Kos", "Acme", "Kos", "Kos"},
      {"", "", "Acme", "Acme", "Acme"},
      {"", "", "", "", ""},
  };
  for (const auto& c : cases) {
    AddressEntry e;
    e.firstName = c.first;
    e.lastName = c.last;
    e.company = c.company;
    EXPECT_EQ(e.GetFullName(), c.full);
    EXPECT_EQ(e.GetSortName(), c.sort);
  }
}

TEST(AddressEntry, CarriesEveryFieldThroughItsText) {
  const std::vector<std::string> fields = {"A", "B", "C", "1", "2", "Street", "x", "y", "note", "-12"};
  std::string text;
  EncodeFields(&text, fields, 10);
  const AddressEntry e(text);
  EXPECT_EQ(e.id, -12);
  EXPECT_EQ(e.further1, "x");
  EXPECT_EQ(e.ToArray(), fields);
}

TEST(JunkSenderEntry, DecodesStationDescriptionAndId) {
  const JunkSenderEntry e("+385 1 555\x1Bspam\x1B" "7\x1B");
  EXPECT_EQ(e.ToArray(), (std::vector<std::string>{"+385 1 555", "spam", "7"}));
  EXPECT_EQ(JunkSenderEntry("x").id, 0);
}

}  // namespace
}  // namespace korvo
