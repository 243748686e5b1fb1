#include "platform/page_surface.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
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

// Texts come from records typed anywhere, not all of them UTF-8: a stray byte
// shows as a replacement mark, the rest of the text as written, and the
// drawing that follows still happens.
TEST(PageSurfaceTest, TextThatIsNotUtf8IsDrawnAndDrawingGoesOn) {
  const std::string texts[] = {"Caf\xE9 bar", "Caf\xC5", "Caf\xF0\x9F", "Caf\xC0\xAF!", "Caf\xED\xA0\x80x"};
  for (const auto& text : texts) {
    SCOPED_TRACE(text);
    PageSurface s(300, 60);
    ASSERT_TRUE(s.Ready());
    s.SelectFont("Times New Roman", 30, 500);
    s.DrawText(text, {0, 0, 300, 40}, TextAlign::Left, false);
    s.FrameRect({0, 40, 300, 60});
    PageSurface alone(300, 60);
    alone.SelectFont("Times New Roman", 30, 500);
    alone.DrawText("Caf", {0, 0, 300, 40}, TextAlign::Left, false);
    int32_t cafEnd = 0, ink = 0;
    for (int32_t y = 0; y < 40; ++y)
      for (int32_t x = 0; x < 300; ++x) {
        if (alone.IsBlack(x, y)) cafEnd = std::max(cafEnd, x + 1);
        ink += s.IsBlack(x, y) && !alone.IsBlack(x, y);
      }
    ASSERT_GT(cafEnd, 0);
    for (int32_t y = 0; y < 40; ++y)
      for (int32_t x = 0; x < cafEnd; ++x) ASSERT_EQ(s.IsBlack(x, y), alone.IsBlack(x, y)) << x << "," << y;
    EXPECT_GT(ink, 20);  // the mark (and what follows) after "Caf"
    EXPECT_TRUE(s.IsBlack(0, 50));
    EXPECT_TRUE(s.IsBlack(150, 59));
    EXPECT_TRUE(s.IsBlack(299, 45));
  }
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
