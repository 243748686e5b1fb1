#include "desktop/profile.h"

#include <gtest/gtest.h>

#include "common/settings.h"
#include "tests/support/sandbox.h"

namespace korvo::desktop {
namespace {

class ProfileTest : public ::testing::Test {
 protected:
  test::Sandbox sandbox;
  Profile viewer{"Korvo Viewer"};
};

TEST_F(ProfileTest, ValuesComeBackAsWrittenUnderTheProgramKey) {
  struct Case {
    const char* section;
    const char* name;
    const char* text;
  } cases[] = {
      {"Settings", "Zoom", "150"},
      {"", "Last", "/home/ana/faxes/Računi.fax"},  // UTF-8 kept
      {"Recent File List", "File1", ""},
      {"Settings", "Quoted", "say \"hi\"\\ and a\nline end"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(viewer.SetString(c.section, c.name, c.text));
    EXPECT_EQ(viewer.GetString(c.section, c.name), std::optional<std::string>(c.text));
  }
  ASSERT_TRUE(viewer.SetDword("Settings", "Width", 0xC0FFEE01u));
  EXPECT_EQ(viewer.GetDword("Settings", "Width"), 0xC0FFEE01u);

  // The programs' keys sit below the product key of the user hive, where the
  // settings functions find them too.
  char buffer[64] = {};
  ASSERT_EQ(KvReadRegUserStr("Korvo Viewer\\Settings", "Zoom", buffer, sizeof buffer), 1);
  EXPECT_STREQ(buffer, "150");
  EXPECT_NE(test::Sandbox::readFile(sandbox.userHive())
                .find("[HKEY_CURRENT_USER\\Software\\Velmora Technologies\\Korvo\\Korvo Viewer\\Settings]"),
            std::string::npos);
  EXPECT_FALSE(Profile("Korvo Manager").GetString("Settings", "Zoom"));
}

TEST_F(ProfileTest, MissingOrMistypedValuesGiveTheFallback) {
  ASSERT_TRUE(viewer.SetDword("Settings", "Count", 7));
  ASSERT_TRUE(viewer.SetString("Settings", "Name", "x"));
  EXPECT_FALSE(viewer.GetString("Settings", "Count"));
  EXPECT_FALSE(viewer.GetDword("Settings", "Name"));
  EXPECT_EQ(viewer.GetDword("Settings", "Name", 42), 42u);
  EXPECT_EQ(viewer.GetString("Nowhere", "Name", "fallback"), "fallback");
  ASSERT_EQ(KvWriteRegUserBinary("Korvo Viewer\\Settings", "Short", "\1\2", 2), 1);
  EXPECT_FALSE(viewer.GetDword("Settings", "Short"));
}

TEST_F(ProfileTest, AnUnreadableHiveIsReportedAndKept) {
  test::Sandbox::writeFile(sandbox.userHive(), "this is no hive\n");
  EXPECT_FALSE(viewer.GetString("Settings", "Zoom"));
  EXPECT_FALSE(viewer.SetString("Settings", "Zoom", "100"));
  EXPECT_EQ(test::Sandbox::readFile(sandbox.userHive()), "this is no hive\n");
}

}  // namespace
}  // namespace korvo::desktop
