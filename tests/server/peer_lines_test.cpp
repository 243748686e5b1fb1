#include "server/peer_lines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvo {
namespace {

// The lines written, on a clock the test moves.
class PeerLinesTest : public ::testing::Test {
 protected:
  static constexpr int64_t kInterval = PeerLines::kIntervalMs;
  static constexpr uint32_t kFull = PeerLines::kWrittenInFull;
  std::vector<std::string> written_;
  int64_t now_ = 1000;
  PeerLines lines_{[this](const std::string& l) { written_.push_back(l); }, [this] { return now_; }};
};

// 20 000 refused introductions under 20 000 names are one peer's: its first
// few lines are written, the rest counted in one line, and another peer's
// lines (the audit lines the flood would have pushed out) are not held back.
TEST_F(PeerLinesTest, APeersLinesAreLimitedWhateverTheirTexts) {
  const std::string audit = "[alice] Not allowed to send a fax from 'bob'";
  std::vector<std::string> expected;
  for (int i = 0; i < 20000; ++i) {
    const std::string line = "[mallory] Not allowed to act for user 'name" + std::to_string(i) + "'";
    lines_.Write(1001, "mallory", line);
    if (i < static_cast<int>(kFull)) expected.push_back(line);
    if (i == 10000) {
      lines_.Write(1000, "alice", audit);
      expected.push_back(audit);
    }
  }
  EXPECT_EQ(written_, expected);
  now_ += kInterval - 1;
  lines_.FlushDue();
  EXPECT_EQ(written_.size(), expected.size()) << "the interval is not over";
  now_ += 1;
  lines_.FlushDue();
  ASSERT_EQ(written_.size(), expected.size() + 1);
  EXPECT_EQ(written_.back(), "[mallory] " + std::to_string(20000 - kFull) +
                                 " more failure lines of uid 1001 in 60 s, not written");
  EXPECT_EQ(PeerLines::CountLine("x", 7, 1, kInterval), "[x] 1 more failure line of uid 7 in 60 s, not written");
  // After a quiet interval the peer's lines are news again.
  now_ += kInterval;
  lines_.Write(1001, "mallory", "[mallory] again");
  EXPECT_EQ(written_.back(), "[mallory] again");
}

TEST_F(PeerLinesTest, AFloodGoingOnGivesOneLineAnInterval) {
  const std::string a = "[mallory] Operation 'Send a fax to server' failed.";
  std::vector<std::string> expected(kFull, a);
  for (int interval = 0; interval < 5; ++interval) {
    for (int i = 0; i < 100; ++i) {
      lines_.Write(1001, "mallory", a);
      now_ += kInterval / 100;
    }
    // The first of a later interval counts into it.
    expected.push_back(PeerLines::CountLine("mallory", 1001, interval == 0 ? 100 - kFull : 100, kInterval));
  }
  expected.pop_back();  // the last interval's count waits for its end
  EXPECT_EQ(written_, expected);
  lines_.FlushAll();
  EXPECT_EQ(written_.back(), PeerLines::CountLine("mallory", 1001, 100, kInterval));
}

TEST_F(PeerLinesTest, APeerWithinItsFewGetsNoCount) {
  for (uint32_t k = 0; k < kFull; ++k) lines_.Write(1000, "alice", "[alice] line " + std::to_string(k));
  lines_.FlushAll();
  EXPECT_EQ(written_.size(), kFull);
}

TEST_F(PeerLinesTest, TrackingStaysBoundedByPeers) {
  // Ever new peers are each written; the counts of the old ones come out
  // early rather than being held without end.
  const uint32_t n = PeerLines::kMaxTracked + 10;
  auto counts = [&] {
    size_t c = 0;
    for (const auto& l : written_) c += l.find("1 more failure line of uid") != std::string::npos;
    return c;
  };
  for (uint32_t uid = 0; uid < n; ++uid)
    for (uint32_t k = 0; k <= kFull; ++k) lines_.Write(uid, "u", "[u] line");
  EXPECT_EQ(written_.size() - counts(), n * kFull);
  EXPECT_GE(counts(), PeerLines::kMaxTracked);
  lines_.FlushAll();
  EXPECT_EQ(counts(), n);
}

}  // namespace
}  // namespace korvo
