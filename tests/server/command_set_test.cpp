#include "server/command_set.h"

#include <gtest/gtest.h>

#include <string>

namespace korvo {
namespace {

TEST(CommandSets, FlowControlPairsAndClassDifferences) {
  EXPECT_STREQ(BasicCommandSet::Get(BasicCommandSet::kBasicInit), "ATQ0V1E0X0&D2&C1L1S0=0H0");
  EXPECT_STREQ(BasicCommandSet::Get(6), "AT&H3");
  EXPECT_STREQ(BasicCommandSet::Get(7), "AT&H4");
  EXPECT_STREQ(BasicCommandSet::Get(10), "AT\\Q3");
  EXPECT_STREQ(BasicCommandSet::Get(22), BasicCommandSet::Get(23));
  EXPECT_STREQ(BasicCommandSet::Get(24), "");

  const auto& c2 = FaxCommandSet::Class2();
  const auto& c20 = FaxCommandSet::Class20();
  EXPECT_TRUE(c20.IsClass20());
  EXPECT_FALSE(c2.IsClass20());
  // Each class lacks what the other has: bit order and end of page for Class 2,
  // negotiation reporting and flow control for Class 2.0.
  const struct {
    FaxCommandSet::Slot slot;
    const char* class2;
    const char* class20;
  } cases[] = {
      {FaxCommandSet::kSelectClass, "AT+FCLASS=2", "AT+FCLASS=2.0"},
      {FaxCommandSet::kCapabilities, "AT+FDCC=", "AT+FCC="},
      {FaxCommandSet::kNegotiationReporting, "", "AT+FNR="},
      {FaxCommandSet::kLocalId, "AT+FLID=", "AT+FLI="},
      {FaxCommandSet::kDataBitOrder, "AT+FBOR=", ""},
      {FaxCommandSet::kFlowControl, "", "AT+FLO="},
      {FaxCommandSet::kEndPage, "AT+FET=", ""},
      {FaxCommandSet::kRevision, "AT+FREV?", "AT+FMR?"},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(c2.Get(c.slot), c.class2);
    EXPECT_STREQ(c20.Get(c.slot), c.class20);
    EXPECT_EQ(c2.Has(c.slot), c.class2[0] != '\0');
  }
}

TEST(CommandSets, ReportsAreKnownByTheirFirstFourCharacters) {
  const auto& r2 = FaxResponseSet::Class2();
  const auto& r20 = FaxResponseSet::Class20();
  EXPECT_TRUE(r20.Matches(FaxResponseSet::kConnection, "+FCON"));
  EXPECT_TRUE(r20.Matches(FaxResponseSet::kConnection, "+FCO"));
  EXPECT_TRUE(r2.Matches(FaxResponseSet::kHangUp, "+FHN"));
  EXPECT_TRUE(r2.Matches(FaxResponseSet::kHangUp, "+FHNG:0"));
  EXPECT_TRUE(r20.Matches(FaxResponseSet::kHangUp, "+FHS:00"));
  EXPECT_FALSE(r20.Matches(FaxResponseSet::kHangUp, "+FHNG:0"));
  EXPECT_TRUE(r2.Matches(FaxResponseSet::kPageStatus, "+FPTS:1"));
  EXPECT_FALSE(r2.Matches(FaxResponseSet::kPageStatus, "+FPS:1"));
  EXPECT_FALSE(r2.Matches(FaxResponseSet::kConnection, "+FC"));
}

TEST(CommandSets, PostPageNames) {
  EXPECT_STREQ(PostPageResponseName(1), "MCF (Message confirmation/Page good)");
  EXPECT_STREQ(PostPageResponseName(5), "PIP (Page good/Interrupt requested)");
  EXPECT_STREQ(PostPageResponseName(6), "");
  EXPECT_STREQ(PostPageMessageName(2), "EOP (End of procedure/No more pages or documents)");
  EXPECT_STREQ(PostPageMessageName(3), "NULL/Another partial page");
}

TEST(SessionParameters, ResolutionAndWidth) {
  const struct {
    const char* text;
    uint16_t yResolution;
    uint16_t width;
  } cases[] = {
      {"1,5,0,2,0,0,0,0", 196, 1728}, {"0,3,1,2,0,0,0,0", 98, 2048}, {"1,3,2,0,0,0,0,0", 196, 2432},
      {"0,3,3,0,0,0,0,0", 98, 1728},  {"", 98, 1728},                {"garbage", 98, 1728},
  };
  for (const auto& c : cases) {
    PageDescriptor page;
    page.length = 1100;
    ParseSessionParameters(c.text, page);
    EXPECT_EQ(page.yResolution, c.yResolution) << c.text;
    EXPECT_EQ(page.width, c.width) << c.text;
    EXPECT_EQ(page.xResolution, 204);
    EXPECT_EQ(page.length, 1100);
    EXPECT_EQ(page.fillOrder, 2u);
  }
}

TEST(RemoteId, QuotesAndBlanks) {
  const struct {
    const char* reported;
    const char* clean;
  } cases[] = {
      {"\"  385 1 4567\"", "  385 1 4567"}, {" \"ABC\" trailing", "ABC"}, {"\"open only", "open only"},
      {"    ", ""},                         {"\"   \"", ""},             {"plain id", "plain id"},
      {"", ""},
  };
  for (const auto& c : cases) {
    char id[80];
    std::snprintf(id, sizeof id, "%s", c.reported);
    CleanRemoteId(id, sizeof id);
    EXPECT_STREQ(id, c.clean) << c.reported;
  }
}

}  // namespace
}  // namespace korvo
