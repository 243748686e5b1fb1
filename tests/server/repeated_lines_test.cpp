#include "server/repeated_lines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvo {
namespace {

// The lines written, on a clock the test moves.
class RepeatedLinesTest : public ::testing::Test {
 protected:
  static constexpr int64_t kInterval = RepeatedLines::kIntervalMs;
  std::vector<std::string> written_;
  int64_t now_ = 1000;
  RepeatedLines lines_{[this](const std::string& l) { written_.push_back(l); }, [this] { return now_; }};

  std::string Count(const std::string& line, uint32_t n) { return RepeatedLines::CountLine(line, n, kInterval); }
};

TEST_F(RepeatedLinesTest, RepeatsWithinAnIntervalAreCountedInOneLine) {
  const std::string a = "[nobody] User has no permissions";
  const std::string b = "[nobody] Operation 'Get list of all outgoing faxes' failed.";
  for (int i = 0; i < 6000; ++i) {
    lines_.Write(a);
    lines_.Write(b);
  }
  // The first few in full, so that a retry or two shows as it came.
  EXPECT_EQ(written_, (std::vector<std::string>{a, b, a, b, a, b}));
  now_ += kInterval - 1;
  lines_.FlushDue();
  EXPECT_EQ(written_.size(), 6u) << "the interval is not over";
  now_ += 1;
  lines_.FlushDue();
  ASSERT_EQ(written_.size(), 8u);
  EXPECT_EQ(written_[6], Count(a, 5997));
  EXPECT_EQ(written_[7], Count(b, 5997));
  EXPECT_EQ(Count(a, 5997), a + " (repeated 5997 more times in 60 s)");
  // After a quiet interval the line is news again.
  now_ += kInterval;
  lines_.Write(a);
  EXPECT_EQ(written_.back(), a);
  EXPECT_EQ(written_.size(), 9u);
}

TEST_F(RepeatedLinesTest, AFloodGoingOnGivesOneLineAnInterval) {
  const std::string a = "[mallory] Operation 'Send a fax to server' failed.";
  std::vector<std::string> expected{a, a, a};
  for (int interval = 0; interval < 5; ++interval) {
    for (int i = 0; i < 100; ++i) {
      lines_.Write(a);
      now_ += kInterval / 100;
    }
    // The first of a later interval counts into it: 97 repeats of the
    // first interval, 100 of each later one.
    expected.push_back(Count(a, interval == 0 ? 97 : 100));
  }
  expected.pop_back();  // the last interval's count waits for its end
  EXPECT_EQ(written_, expected);
  lines_.FlushAll();
  EXPECT_EQ(written_.back(), Count(a, 100));
}

TEST_F(RepeatedLinesTest, ALineThatDoesNotRepeatGetsNoCountAndOthersAreNotHeldBack) {
  const std::string once = "[alice] Operation 'Delete a fax from queue' failed.";
  const std::string other = "[bob] Operation 'Delete a fax from queue' failed.";
  lines_.Write(once);
  for (int i = 0; i < 4; ++i) lines_.Write(other);
  now_ += kInterval;
  lines_.Write(once);
  // The count of the line that repeated is written on the way.
  EXPECT_EQ(written_, (std::vector<std::string>{once, other, other, other, Count(other, 1), once}));
  lines_.FlushAll();
  EXPECT_EQ(written_.size(), 6u);
}

TEST_F(RepeatedLinesTest, TrackingStaysBoundedByDistinctLines) {
  // Ever new lines are each written; the counts of the old ones come out
  // early rather than being held without end.
  const size_t n = RepeatedLines::kMaxTracked + 10;
  auto counts = [&] {
    size_t c = 0;
    for (const auto& l : written_) c += l.find("(repeated 1 more time in 60 s)") != std::string::npos;
    return c;
  };
  for (size_t i = 0; i < n; ++i)
    for (uint32_t k = 0; k <= RepeatedLines::kWrittenInFull; ++k) lines_.Write("[x] line " + std::to_string(i));
  EXPECT_EQ(written_.size() - counts(), n * RepeatedLines::kWrittenInFull);
  EXPECT_GE(counts(), RepeatedLines::kMaxTracked);
  lines_.FlushAll();
  EXPECT_EQ(counts(), n);
}

}  // namespace
}  // namespace korvo
