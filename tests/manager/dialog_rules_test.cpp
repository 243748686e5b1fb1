// The number checks of the manager's dialogs, as tables of typed texts.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "manager/dialog_rules.h"

namespace korvo::test {
namespace {

struct IntervalCase {
  const char* typed;
  std::optional<int> value;
  const char* message;
};

void PrintTo(const IntervalCase& c, std::ostream* os) { *os << '"' << c.typed << '"'; }

class RefreshInterval : public ::testing::TestWithParam<IntervalCase> {};

TEST_P(RefreshInterval, TakesThreeTo36000Seconds) {
  const manager::IntegerEntry entry = manager::ParseRefreshInterval(GetParam().typed);
  EXPECT_EQ(entry.value, GetParam().value);
  EXPECT_EQ(entry.message, GetParam().message);
}

constexpr const char* kRange = "Please enter an integer between 3 and 36000.";

INSTANTIATE_TEST_SUITE_P(
    Table, RefreshInterval,
    ::testing::Values(IntervalCase{"2", std::nullopt, kRange}, IntervalCase{"3", 3, ""},
                      IntervalCase{"36000", 36000, ""}, IntervalCase{"36001", std::nullopt, kRange},
                      IntervalCase{" 60 ", 60, ""}, IntervalCase{"-5", std::nullopt, kRange},
                      // Digits beyond any int are out of range, never wrapped into it.
                      IntervalCase{"4294967356", std::nullopt, kRange},
                      IntervalCase{"99999999999999999999999", std::nullopt, kRange},
                      IntervalCase{"", std::nullopt, "Please enter an integer."},
                      IntervalCase{"12s", std::nullopt, "Please enter an integer."}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

}  // namespace
}  // namespace korvo::test
