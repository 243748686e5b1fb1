#include "platform/page_surface.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/sandbox.h"

namespace korvo::platform {
namespace {

TEST(PageSurfaceTest, TimesNewRomanResolvesToLiberationSerif) {
  EXPECT_EQ(MatchFontFamily("Times New Roman"), "Liberation Serif");
}

TEST(PageSurfaceTest, RowsAreMostSignificantBitFirstWithWhiteSet) {
  PageSurface s(32, 4);
  ASSERT_TRUE(s.Ready());
  // Pixels 0, 9 and 31 of row 1 black (a frame one pixel wide and high is one pixel).
  for (int32_t x : {0, 9, 31}) s.FrameRect({x, 1, x + 1, 2});
  uint8_t row[4];
  s.CopyRow(0, row);
  EXPECT_EQ(std::vector<uint8_t>(row, row + 4), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
  s.CopyRow(1, row);
  EXPECT_EQ(std::vector<uint8_t>(row, row + 4), (std::vector<uint8_t>{0x7F, 0xBF, 0xFF, 0xFE}));
  EXPECT_TRUE(s.IsBlack(9, 1));
  EXPECT_FALSE(s.IsBlack(10, 1));
  EXPECT_FALSE(s.IsBlack(32, 1));
}

TEST(PageSurfaceTest, RowPadBitsAreWhite) {
  PageSurface s(12, 1);
  s.FrameRect({0, 0, 12, 1});
  uint8_t row[2];
  s.CopyRow(0, row);
  EXPECT_EQ(row[0], 0x00);
  EXPECT_EQ(row[1], 0x0F);
}

TEST(PageSurfaceTest, PngOfAPageIsWritten) {
  test::Sandbox box;
  const std::vector<uint8_t> rows(2 * 4, 0xF0);
  const auto path = box.path("page.png");
  ASSERT_TRUE(WritePagePng(path.string(), rows.data(), 16, 4, 2));
  EXPECT_EQ(test::Sandbox::readFile(path).substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  EXPECT_FALSE(WritePagePng(box.path("missing/page.png").string(), rows.data(), 16, 4, 2));
}

}  // namespace
}  // namespace korvo::platform
