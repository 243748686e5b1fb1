#include "common/connection_settings.h"

#include <gtest/gtest.h>

#include "common/settings.h"
#include "tests/support/sandbox.h"

namespace korvo {
namespace {

TEST(ConnectionSettings, TextForm) {
  ConnectionSettings s;
  ASSERT_TRUE(s.Decode("KORVO\x1B" "4\x1B" "10\x1B"));
  EXPECT_EQ(s.stationId, "KORVO");
  EXPECT_EQ(s.retryAttempts, 4);
  EXPECT_EQ(s.retryInterval, 10);
  EXPECT_EQ(s.Encode(), "KORVO\x1B" "4\x1B" "10\x1B");
  s.Decode("x\x1B" "y\x1B");
  EXPECT_EQ(s.retryAttempts, 0);
  EXPECT_EQ(s.retryInterval, 0);
}

class LoadDefaults : public ::testing::Test {
 protected:
  std::string ReadStr(const char* name) {
    char buf[260] = {};
    return KvReadRegStr("Server", name, buf, sizeof buf) ? buf : "<missing>";
  }
  uint32_t ReadDword(const char* name) {
    uint32_t v = 0;
    return KvReadRegDword("Server", name, &v) ? v : 0xFFFFFFFF;
  }
  test::Sandbox sandbox_;
};

TEST_F(LoadDefaults, NumbersOutsideTheirRangesAreReplacedAndWrittenBack) {
  struct Case {
    bool set;
    uint32_t timeout, attempts;
    int32_t wantInterval, wantAttempts;
  };
  const Case cases[] = {
      {false, 0, 0, 3, 5}, {true, 0, 0, 3, 5}, {true, 61, 11, 3, 5},
      {true, 1, 1, 1, 1},  {true, 60, 10, 60, 10}, {true, 20, 7, 20, 7},
  };
  KvWriteRegStr("Server", "StationIdentifier", "KORVO");
  for (const auto& c : cases) {
    if (c.set) {
      KvWriteRegDword("Server", "RetryTimeout", c.timeout);
      KvWriteRegDword("Server", "RetryAttempts", c.attempts);
    }
    ConnectionSettings s;
    s.LoadDefaults();
    EXPECT_EQ(s.retryInterval, c.wantInterval) << c.timeout;
    EXPECT_EQ(s.retryAttempts, c.wantAttempts) << c.attempts;
    EXPECT_EQ(ReadDword("RetryTimeout"), static_cast<uint32_t>(c.wantInterval));
    EXPECT_EQ(ReadDword("RetryAttempts"), static_cast<uint32_t>(c.wantAttempts));
  }
}

TEST_F(LoadDefaults, StationIdentifierRules) {
  KvWriteRegStr(nullptr, "DefaultServer", "FAXHOST");
  struct Case {
    const char* stored;  // null: missing
    const char* want;
  };
  const Case cases[] = {
      {"+385 1 555 0101", "+385 1 555 0101"},
      {"12345678901234567890", "12345678901234567890"},
      {"123456789012345678901", "FAXHOST"},  // 21 characters
      {"", "FAXHOST"},
  };
  for (const auto& c : cases) {
    KvWriteRegStr("Server", "StationIdentifier", c.stored);
    ConnectionSettings s;
    s.LoadDefaults();
    EXPECT_EQ(s.stationId, c.want) << c.stored;
    EXPECT_EQ(ReadStr("StationIdentifier"), c.want) << c.stored;
  }
  // The user's default server comes first; a long name is cut to 20.
  KvWriteRegUserStr(nullptr, "DefaultServer", "a-rather-long-server-name.example");
  KvWriteRegStr("Server", "StationIdentifier", "");
  ConnectionSettings s;
  s.LoadDefaults();
  EXPECT_EQ(s.stationId, "a-rather-long-server");
  EXPECT_EQ(ReadStr("StationIdentifier"), "a-rather-long-server");
  // Cut at 20 bytes of whole letters: a name whose 20th byte falls inside a
  // two-byte letter keeps the letters before it, never half of one.
  KvWriteRegUserStr(nullptr, "DefaultServer", "aŽĐĆČŠŽĐĆČŠ");
  KvWriteRegStr("Server", "StationIdentifier", "");
  ConnectionSettings cut;
  cut.LoadDefaults();
  EXPECT_EQ(cut.stationId, "aŽĐĆČŠŽĐĆČ");
  EXPECT_EQ(ReadStr("StationIdentifier"), "aŽĐĆČŠŽĐĆČ");
}

TEST_F(LoadDefaults, NoDefaultServerGivesAnEmptyIdentifier) {
  KvWriteRegStr("Server", "StationIdentifier", "123456789012345678901");
  ConnectionSettings s;
  s.stationId = "stale";
  s.LoadDefaults();
  EXPECT_EQ(s.stationId, "");
  EXPECT_EQ(ReadStr("StationIdentifier"), "123456789012345678901");
}

}  // namespace
}  // namespace korvo
