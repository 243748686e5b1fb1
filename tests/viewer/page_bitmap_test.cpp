#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "viewer/page_bitmap.h"

namespace korvo {
namespace {

// A page of random pixels whose pad bits the reader left black (zero).
PageBitmap RandomPage(uint16_t width, uint16_t length, uint16_t yResolution, uint32_t seed) {
  const uint32_t stride = PageBitmap::StrideOf(width);
  std::vector<uint8_t> rows(static_cast<size_t>(stride) * length);
  std::mt19937 rng(seed);
  for (auto& b : rows) b = static_cast<uint8_t>(rng());
  for (uint32_t y = 0; y < length; ++y)
    for (uint32_t x = width; x < stride * 8; ++x) rows[y * stride + x / 8] &= static_cast<uint8_t>(~(0x80 >> (x % 8)));
  PageBitmap page;
  page.Load({width, length, 204, yResolution, 0, 2}, rows.data(), 0);
  return page;
}

// Pixel (x, y) of the page turned by d comes from this pixel of the page.
struct Pixel {
  uint32_t x, y;
};
Pixel Source(int d, uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
  switch (d) {
    case 1: return {y, h - 1 - x};
    case -1: return {w - 1 - y, x};
    default: return {w - 1 - x, h - 1 - y};
  }
}

void ExpectPadWhite(const PageBitmap& page) {
  for (uint32_t y = 0; y < page.Height(); ++y)
    for (uint32_t x = page.Width(); x < page.Stride() * 8; ++x)
      ASSERT_TRUE(page.Row(y)[x / 8] & (0x80 >> (x % 8))) << "pad bit " << x << " of row " << y;
}

struct PageSize {
  uint16_t width, length, yResolution;
};

void PrintTo(const PageSize& s, std::ostream* os) { *os << s.width << " x " << s.length << " at " << s.yResolution; }

class Rotation : public ::testing::TestWithParam<PageSize> {};

TEST_P(Rotation, EachTurnMatchesThePixelByPixelTurn) {
  const PageSize s = GetParam();
  const PageBitmap original = RandomPage(s.width, s.length, s.yResolution, s.width + s.length);
  ExpectPadWhite(original);
  for (int d : {-1, 1, 2}) {
    SCOPED_TRACE("d = " + std::to_string(d));
    PageBitmap turned = original;
    turned.Rotate(d);
    const bool quarter = d != 2;
    ASSERT_EQ(turned.Width(), quarter ? s.length : s.width);
    ASSERT_EQ(turned.Height(), quarter ? s.width : s.length);
    EXPECT_EQ(turned.Descriptor().xResolution, quarter ? s.yResolution : 204);
    EXPECT_EQ(turned.Descriptor().yResolution, quarter ? 204 : s.yResolution);
    ASSERT_EQ(turned.Rows().size(), static_cast<size_t>(turned.Stride()) * turned.Height());
    for (uint32_t y = 0; y < turned.Height(); ++y)
      for (uint32_t x = 0; x < turned.Width(); ++x) {
        const Pixel p = Source(d, x, y, s.width, s.length);
        ASSERT_EQ(turned.IsWhite(x, y), original.IsWhite(p.x, p.y)) << "pixel " << x << ", " << y;
      }
    ExpectPadWhite(turned);
  }
}

TEST_P(Rotation, TurnsThatAddUpToNoneGiveThePageBack) {
  const PageSize s = GetParam();
  const PageBitmap original = RandomPage(s.width, s.length, s.yResolution, 7);
  const std::vector<std::vector<int>> compositions = {
      {1, -1}, {-1, 1}, {2, 2}, {1, 1, 1, 1}, {-1, -1, -1, -1}, {1, 1, 2}, {-1, 2, -1}};
  for (const auto& turns : compositions) {
    PageBitmap page = original;
    for (int d : turns) page.Rotate(d);
    EXPECT_EQ(page.Rows(), original.Rows()) << turns.size() << " turns starting " << turns[0];
    EXPECT_EQ(page.Width(), original.Width());
    EXPECT_EQ(page.Descriptor().yResolution, original.Descriptor().yResolution);
  }
  PageBitmap twice = original, flipped = original;
  twice.Rotate(1);
  twice.Rotate(1);
  flipped.Rotate(2);
  EXPECT_EQ(twice.Rows(), flipped.Rows());
}

INSTANTIATE_TEST_SUITE_P(FaxPages, Rotation,
                         ::testing::Values(PageSize{1728, 2200, 196}, PageSize{1728, 1145, 98},
                                           PageSize{2048, 1001, 196}, PageSize{2432, 7, 196},
                                           PageSize{1728, 1, 98}),
                         [](const auto& info) {
                           return std::to_string(info.param.width) + "x" + std::to_string(info.param.length) +
                                  "at" + std::to_string(info.param.yResolution);
                         });

TEST(PageBitmap, StartsEmptyAtTheDefaultResolutions) {
  PageBitmap page;
  EXPECT_FALSE(page.Loaded());
  EXPECT_EQ(page.Index(), -1);
  EXPECT_EQ(page.Width(), 0u);
  EXPECT_EQ(page.Height(), 0u);
  EXPECT_EQ(page.Descriptor().xResolution, 204);
  EXPECT_EQ(page.Descriptor().yResolution, 196);
  EXPECT_EQ(page.Descriptor().fillOrder, 2u);
}

TEST(PageBitmap, APageWithoutLinesTurnsIntoAPageWithoutColumns) {
  PageBitmap page;
  page.Load({1728, 0, 204, 196, 0, 2}, nullptr, 2);
  EXPECT_TRUE(page.Loaded());
  page.Rotate(1);
  EXPECT_EQ(page.Width(), 0u);
  EXPECT_EQ(page.Height(), 1728u);
  EXPECT_EQ(page.Stride(), 0u);
  page.Rotate(2);
  page.Rotate(-1);
  EXPECT_EQ(page.Width(), 1728u);
  EXPECT_EQ(page.Height(), 0u);
  EXPECT_TRUE(page.Rows().empty());
}

}  // namespace
}  // namespace korvo
