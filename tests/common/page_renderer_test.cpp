#include "common/page_renderer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/huffman.h"
#include "tests/common/page_pixels.h"

namespace korvo {
namespace {

using test::Ink;
using test::InkBox;
using test::InkRows;
using test::PageBits;

TEST(PageRectTest, SplitsLeaveOneLineBetweenTheParts) {
  struct Case {
    PageRect whole;
    bool across;
    int32_t a, b;
    PageRect first, second;
  };
  const Case cases[] = {
      {{50, 0, 1678, 620}, false, 9, 10, {50, 0, 1678, 558}, {50, 559, 1678, 620}},
      {{50, 0, 1678, 558}, false, 4, 10, {50, 0, 1678, 223}, {50, 224, 1678, 558}},
      {{50, 224, 1678, 558}, false, 23, 40, {50, 224, 1678, 416}, {50, 417, 1678, 558}},
      {{50, 224, 1678, 416}, true, 1, 2, {50, 224, 864, 416}, {865, 224, 1678, 416}},
      {{70, 234, 852, 391}, true, 3, 10, {70, 234, 304, 391}, {305, 234, 852, 391}},
      {{70, 427, 1678, 546}, true, 1, 8, {70, 427, 271, 546}, {272, 427, 1678, 546}},
  };
  for (const auto& c : cases) {
    PageRect first, second;
    if (c.across) c.whole.SplitWidth(c.a, c.b, first, second);
    else c.whole.SplitHeight(c.a, c.b, first, second);
    EXPECT_EQ(first, c.first) << c.a << "/" << c.b;
    EXPECT_EQ(second, c.second) << c.a << "/" << c.b;
  }
  EXPECT_EQ((PageRect{50, 224, 864, 416}.Shrunk(0, 0, 12, 25)), (PageRect{50, 224, 852, 391}));
}

TEST(PageRendererTest, FontHeightsArePointsAt196LinesPerInch) {
  const std::pair<int32_t, int32_t> cases[] = {{40, 108}, {12, 32}, {8, 21}, {72, 196}};
  for (const auto& [points, pixels] : cases) EXPECT_EQ(PageRenderer::FontHeight(points), pixels) << points;
}

TEST(PageRendererTest, ABitmapThatCannotBeMadeIsNotReady) {
  for (const auto& [w, h] : std::vector<std::pair<uint32_t, uint32_t>>{{0, 100}, {1728, 0}, {100000, 10}}) {
    PageRenderer page(w, h);
    EXPECT_FALSE(page.Ready()) << w << "x" << h;
    page.SetFontSize(12);
    page.FrameRect({0, 0, 10, 10});
    page.DrawText("text", {0, 0, 10, 10}, TextAlignment::Left);
  }
  PageRenderer page(1728, 620);
  EXPECT_TRUE(page.Ready());
  EXPECT_EQ(Ink(PageBits::Of(page), {0, 0, 1728, 620}), 0u);
}

TEST(PageRendererTest, FrameIsOnePixelAlongTheInsideOfTheRectangle) {
  PageRenderer page(1728, 100);
  const PageRect r{50, 10, 852, 91};
  page.FrameRect(r);
  const PageBits bits = PageBits::Of(page);
  for (int32_t x = r.left; x < r.right; ++x) {
    EXPECT_TRUE(bits.IsBlack(x, r.top)) << x;
    EXPECT_TRUE(bits.IsBlack(x, r.bottom - 1)) << x;
  }
  for (int32_t y = r.top; y < r.bottom; ++y) {
    EXPECT_TRUE(bits.IsBlack(r.left, y)) << y;
    EXPECT_TRUE(bits.IsBlack(r.right - 1, y)) << y;
  }
  const uint32_t frame = 2 * (r.right - r.left) + 2 * (r.bottom - r.top) - 4;
  EXPECT_EQ(Ink(bits, {0, 0, 1728, 100}), frame);
  EXPECT_EQ(Ink(bits, r.Shrunk(1, 1, 1, 1)), 0u);
}

TEST(PageRendererTest, TextStaysInsideItsRectangle) {
  PageRenderer page(1728, 200);
  page.SetFontSize(40);
  // Wider and taller than the rectangle: clipped at every edge.
  const PageRect r{100, 20, 400, 80};
  page.DrawText("WWWWWWWWWW\nWWWWWWWWWW", r, TextAlignment::Left);
  const PageBits bits = PageBits::Of(page);
  EXPECT_GT(Ink(bits, r), 1000u);
  EXPECT_EQ(Ink(bits, {0, 0, 1728, 200}), Ink(bits, r));
  const PageRect box = InkBox(bits, r);
  EXPECT_EQ(box.right, r.right);
  EXPECT_EQ(box.bottom, r.bottom);
}

TEST(PageRendererTest, LeftTextStartsAtTheLeftEdgeAndCentredTextIsCentred) {
  const PageRect r{200, 10, 1500, 190};
  PageRenderer left(1728, 200), centred(1728, 200);
  left.SetFontSize(40);
  centred.SetFontSize(40);
  left.DrawText("FAX COVER", r, TextAlignment::Left);
  centred.DrawText("FAX COVER", r, TextAlignment::Centre);
  const PageRect l = InkBox(PageBits::Of(left), r);
  const PageRect c = InkBox(PageBits::Of(centred), r);
  EXPECT_LE(l.left - r.left, 8);  // the glyph's own side bearing only
  EXPECT_NEAR(c.left - r.left, r.right - c.right, 12);
  EXPECT_EQ(c.right - c.left, l.right - l.left);
  // Text hangs from the top: the cap height of 40 pt is about 70 pixels.
  EXPECT_LE(c.top - r.top, 40);
  EXPECT_GT(c.bottom - c.top, 60);
  EXPECT_LT(c.bottom - c.top, 108);
}

TEST(PageRendererTest, LinesFollowOneAnotherAtTheFontsLineHeight) {
  PageRenderer page(1728, 400);
  page.SetFontSize(12);
  const PageRect r{70, 20, 800, 390};
  page.DrawText("From:\nCompany:\nFax Number:\nPhone Number:", r, TextAlignment::Left);
  const PageBits bits = PageBits::Of(page);
  // Four bands of ink with white rows between them, 1.15 em apart.
  const std::vector<int32_t> rows = InkRows(bits, r);
  ASSERT_FALSE(rows.empty());
  std::vector<int32_t> bandTops{rows.front()};
  for (size_t i = 1; i < rows.size(); ++i)
    if (rows[i] != rows[i - 1] + 1) bandTops.push_back(rows[i]);
  ASSERT_EQ(bandTops.size(), 4u);
  for (size_t i = 1; i < bandTops.size(); ++i) {
    EXPECT_GE(bandTops[i] - bandTops[i - 1], 34) << i;
    EXPECT_LE(bandTops[i] - bandTops[i - 1], 38) << i;
  }
  EXPECT_LT(rows.back(), r.top + 4 * 38);
}

TEST(PageRendererTest, DoubleAmpersandOfALabelShowsAsOne) {
  const PageRect r{70, 10, 1000, 60};
  auto draw = [&](const std::string& text, bool labels) {
    PageRenderer page(1728, 64);
    page.SetFontSize(12);
    page.DrawText(text, r, TextAlignment::Left, labels);
    return PageBits::Of(page).rows;
  };
  const auto shown = draw("Date & Time:", false);
  EXPECT_EQ(draw("Date && Time:", true), shown);
  // Text the user typed keeps every ampersand.
  EXPECT_NE(draw("R&&D", false), draw("R&D", false));
  EXPECT_EQ(draw("R&&D", false), draw("R&&&&D", true));
}

TEST(PageRendererTest, EncodedPageDecodesToTheBitmap) {
  PageRenderer page(1728, 300);
  page.SetFontSize(40);
  page.FrameRect({50, 5, 1678, 295});
  page.DrawText("FAX COVER\nKorvo", {50, 5, 1678, 295}, TextAlignment::Centre);
  BitBuffer out(16384, 8192, kLsbFirst);
  page.EncodeTo(out);
  EXPECT_EQ(out.BitCount() % 8, 0u);
  const PageBits drawn = PageBits::Of(page);
  const PageBits decoded = PageBits::Decode(out.Data(), out.ByteCount(), 1728, 300);
  EXPECT_EQ(decoded.rows, drawn.rows);
  // The page holds exactly its 300 lines and no RTC.
  BitArray coded(out.Data(), BitLength::FromBytes(out.ByteCount()), kLsbFirst);
  HuffmanDecompression counter(coded, nullptr, 0, 0, 1728);
  uint16_t lines = 0;
  EXPECT_TRUE(counter.CountLines(lines));
  EXPECT_EQ(lines, 300);
}

TEST(PageRendererTest, EncodingAWidthThatIsNotWholeBytesIsRefused) {
  PageRenderer page(1701, 2);
  ASSERT_TRUE(page.Ready());
  BitBuffer out(1024, 1024, kLsbFirst);
  try {
    page.EncodeTo(out);
    FAIL() << "no exception";
  } catch (HuffmanException* e) {
    EXPECT_EQ(e->Code(), kHuffmanBadWidth);
    delete e;
  }
}

}  // namespace
}  // namespace korvo
