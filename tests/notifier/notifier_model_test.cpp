// KorvoBell's rules without a server: list line counting, options in the
// user hive, the poll schedule and the Configure rules.
#include <gtest/gtest.h>

#include <string>

#include "common/settings.h"
#include "notifier/notifier.h"
#include "tests/support/sandbox.h"

namespace korvo::notifier {
namespace {

TEST(CountListLines, CountsEachLineOnceWhateverItsLength) {
  struct Case {
    std::string text;
    uint32_t lines;
  } cases[] = {
      {"", 0},
      {"a\r\n", 1},
      {"a\r\nb\r\n", 2},
      {"a\r\nb", 2},           // a last line without LF counts
      {"a\r\n\r", 1},          // a CR alone is no line
      {std::string(300, 'x') + "\r\n", 1},  // longer than 256 bytes: still one line
      {std::string(1000, 'x') + "\r\n" + std::string(600, 'y'), 2},
  };
  for (const auto& c : cases) EXPECT_EQ(CountListLines(c.text), c.lines) << c.text.size();
}

TEST(LimitText, CutsAtACharacterBoundary) {
  EXPECT_EQ(LimitText("No messages."), "No messages.");
  EXPECT_EQ(LimitText(std::string(100, 'a')).size(), kTextLimit);
  // "ž" is two bytes; one starting at byte 62 would be cut in half.
  const std::string text = std::string(62, 'a') + "\xC5\xBE" + "b";
  EXPECT_EQ(LimitText(text), std::string(62, 'a'));
}

class OptionsTest : public ::testing::Test {
 protected:
  void Store(const std::string& value) { ASSERT_EQ(KvWriteRegUserStr(nullptr, "NotifyOptions", value.c_str()), 1); }
  std::string Stored() {
    char buffer[256] = {};
    return KvReadRegUserStr(nullptr, "NotifyOptions", buffer, sizeof buffer) ? buffer : "<missing>";
  }
  test::Sandbox sandbox_;
};

TEST_F(OptionsTest, RoundTripInTheUserHive) {
  NotifyOptions options;
  options.sound = true;
  options.interval = 5;
  options.eventMask = 32769;
  ASSERT_TRUE(options.Save());
  EXPECT_EQ(Stored(), "1\x1B" "5\x1B" "32769\x1B");
  NotifyOptions read;
  read.sound = false;
  read.Load();
  EXPECT_TRUE(read.sound);
  EXPECT_EQ(read.interval, 5);
  EXPECT_EQ(read.eventMask, 32769);
}

TEST_F(OptionsTest, ValuesAsRead) {
  struct Case {
    const char* value;  // null: no value
    bool sound;
    int interval;
    int mask;
    int pollMinutes;
  } cases[] = {
      {nullptr, true, 1, 0x8001, 1},
      {"0\x1B" "7\x1B" "0\x1B", false, 7, 0x8001, 7},    // mask 0 reads as the default
      {"1\x1B", true, 0, 0x8001, 1},                      // one field
      {"1\x1B" "-3\x1B" "1\x1B", true, -3, 1, 1},          // below 1: every minute
      {"1\x1B" "abc\x1B" "1\x1B", true, 0, 1, 1},
  };
  for (const auto& c : cases) {
    test::Sandbox sandbox;
    if (c.value) Store(c.value);
    NotifyOptions options;
    options.Load();
    EXPECT_EQ(options.sound, c.sound) << (c.value ? c.value : "none");
    EXPECT_EQ(options.interval, c.interval) << (c.value ? c.value : "none");
    EXPECT_EQ(options.eventMask, c.mask) << (c.value ? c.value : "none");
    EXPECT_EQ(options.PollMinutes(), c.pollMinutes) << (c.value ? c.value : "none");
    if (c.value) {
      EXPECT_EQ(Stored(), c.value);  // reading never rewrites it
    }
  }
}

TEST_F(OptionsTest, ServerNameFromTheUserThenTheMachine) {
  NotifyOptions options;
  options.Load();
  EXPECT_EQ(options.serverName, "");
  ASSERT_EQ(KvSetKorvoDefaultServer("machinehost"), 1);
  options.Load();
  EXPECT_EQ(options.serverName, "machinehost");
  ASSERT_EQ(KvSetDefaultServer("userhost"), 1);
  options.Load();
  EXPECT_EQ(options.serverName, "userhost");
}

// The ticks at which the first polls come, for intervals as stored.
TEST_F(OptionsTest, PollSchedule) {
  struct Case {
    int interval;
    std::vector<int> polls;  // ticks, from 1, among the first 200
  } cases[] = {
      {1, {1, 13, 25, 37}},
      {7, {72, 156}},
      {0, {1, 13, 25, 37}},   // not at every tick
      {-5, {1, 13, 25, 37}},
      {2, {12, 36}},
  };
  for (const auto& c : cases) {
    NotifyOptions options;
    options.interval = c.interval;
    Notifier notifier(options, sandbox_.root().string());  // no server: nothing is asked
    std::vector<int> polls;
    for (int tick = 1; tick <= 200 && polls.size() < c.polls.size(); ++tick)
      if (notifier.Tick().polled) polls.push_back(tick);
    EXPECT_EQ(polls, c.polls) << c.interval;
  }
}

// Configure selects the first entry that begins with the interval's digits.
TEST_F(OptionsTest, ConfigureSelectsTheFirstEntryBeginningWithTheIntervalAndOkWithoutOneKeepsIt) {
  struct Selection {
    int interval;
    int index;
  } selections[] = {{1, 0}, {6, 9}, {7, -1}, {60, 9}, {4, 3}, {45, 8}, {0, -1}, {100, -1}, {-1, -1}};
  for (auto s : selections) EXPECT_EQ(Notifier::IntervalSelection(s.interval), s.index) << s.interval;

  Store("1\x1B" "7\x1B" "5\x1B");
  NotifyOptions loaded;
  loaded.Load();
  Notifier notifier(loaded, sandbox_.root().string());
  notifier.ConfigureOpened();
  ASSERT_TRUE(notifier.ConfigureOk("", false));  // nothing selected
  EXPECT_EQ(Stored(), "0\x1B" "7\x1B" "5\x1B");
  ASSERT_TRUE(notifier.ConfigureOk("20", true));
  EXPECT_EQ(Stored(), "1\x1B" "20\x1B" "5\x1B");  // the mask stays
  EXPECT_EQ(notifier.options().interval, 20);

  // Configure reads the hive again on opening.
  Store("0\x1B" "3\x1B" "1\x1B");
  notifier.ConfigureOpened();
  EXPECT_EQ(notifier.options().interval, 3);
  EXPECT_FALSE(notifier.options().sound);
}

TEST_F(OptionsTest, TitlesAndLines) {
  NotifyOptions options;
  options.serverName = "hub";
  Notifier notifier(options, sandbox_.root().string());
  EXPECT_EQ(notifier.line1(), "Server hub:");
  EXPECT_EQ(notifier.line2(), "No messages.");
  EXPECT_EQ(notifier.ConfigureTitle(), "Korvo Notifier Configure (Server=hub)");
  EXPECT_EQ(notifier.MessageTitle(), "Korvo Notifier Message (Server=hub)");
}

TEST_F(OptionsTest, ExitEndsOnItsSecondPass) {
  Notifier notifier(NotifyOptions{}, sandbox_.root().string());
  EXPECT_FALSE(notifier.Exit());
  EXPECT_TRUE(notifier.Exit());
}

// Check Now opens the window with the current lines; each further showing
// alternates its icon; closing it resets the lines.
TEST_F(OptionsTest, CheckNowAndClosingTheMessageWindow) {
  Notifier notifier(NotifyOptions{}, sandbox_.root().string());
  EXPECT_FALSE(notifier.messageOpen());
  EXPECT_EQ(notifier.CheckNow(), kIconNormal);
  EXPECT_TRUE(notifier.messageOpen());
  EXPECT_EQ(notifier.DoubleClick(), kIconAlert);
  EXPECT_EQ(notifier.CheckNow(), kIconNormal);
  notifier.MessageClosed();
  EXPECT_FALSE(notifier.messageOpen());
  EXPECT_FALSE(notifier.newMessage());
  EXPECT_EQ(notifier.line2(), "No messages.");
}

}  // namespace
}  // namespace korvo::notifier
