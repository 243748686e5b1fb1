#include <gtest/gtest.h>

#include <vector>

#include "viewer/view_geometry.h"

namespace korvo {
namespace {

// A white page with the given pixels black.
PageBitmap PageWith(uint16_t width, uint16_t length, uint16_t yResolution, const std::vector<std::pair<uint32_t, uint32_t>>& black) {
  const uint32_t stride = PageBitmap::StrideOf(width);
  std::vector<uint8_t> rows(static_cast<size_t>(stride) * length, 0xFF);
  for (auto [x, y] : black) rows[y * stride + x / 8] &= static_cast<uint8_t>(~(0x80 >> (x % 8)));
  PageBitmap page;
  page.Load({width, length, 204, yResolution, 0, 2}, rows.data(), 0);
  return page;
}

ZoomScale ZoomAt(uint32_t percent, uint32_t yResolution = 196) {
  ZoomScale zoom;
  zoom.SetAspect(204, yResolution);
  zoom.SetZoom(*ZoomByPercent(percent));
  return zoom;
}

TEST(BackgroundRegion, IsTheClientAreaRightOfAndBelowThePage) {
  struct {
    PixelSize client, page;
    std::vector<ViewRect> region;
  } const cases[] = {
      {{1000, 800}, {432, 550}, {{432, 0, 1000, 800}, {0, 550, 432, 800}}},  // page smaller: grey right and below
      {{1000, 800}, {5184, 6600}, {}},                                      // page larger: no grey
      {{1000, 800}, {5184, 500}, {{0, 500, 5184, 800}}},                    // wide and short
      {{1000, 800}, {0, 0}, {{0, 0, 1000, 800}}},                           // no page: all grey
  };
  for (const auto& c : cases) EXPECT_EQ(BackgroundRegion(c.client, c.page), c.region);
}

TEST(KeepPlace, TheCornerThatComesToTheTopLeftStaysThere) {
  const PixelSize client{300, 300};
  const PixelSize page{1728, 2200};
  const PixelSize turned{2200, 1728};
  struct {
    int32_t d;
    PixelSize client;
    ViewPoint from;
    PixelSize after;
    ViewPoint to;
  } const cases[] = {
      // Right: the bottom-left corner (x, y) goes to (2200 - 1 - y, x).
      {1, client, {0, 0}, turned, {1900, 0}},
      {1, client, {100, 500}, turned, {2199 - 799, 100}},
      // Left: the top-right corner (x, y) goes to (y, 1728 - 1 - x).
      {-1, client, {0, 0}, turned, {0, 1727 - 299}},
      {-1, client, {1428, 1900}, turned, {1900, 0}},
      // Half: the bottom-right corner goes to the top left.
      {2, client, {0, 0}, page, {1727 - 299, 2199 - 299}},
      {2, client, {1428, 1900}, page, {0, 0}},
      // A window wider than high cannot scroll the corner all the way.
      {1, {400, 300}, {0, 0}, turned, {1800, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("d = " + std::to_string(c.d));
    EXPECT_EQ(KeepPlace(c.d, c.from, c.client, page, c.after), c.to);
  }
}

TEST(KeepPlace, AnAxisWhereThePageFitsStaysAtZero) {
  // A quarter-size page: everything fits, nothing scrolls.
  EXPECT_EQ(KeepPlace(1, {0, 0}, {1000, 800}, {432, 550}, {550, 432}), (ViewPoint{0, 0}));
  // Wider than the window after the turn, but no longer as high.
  EXPECT_EQ(KeepPlace(1, {0, 100}, {1000, 800}, {700, 2000}, {2000, 700}), (ViewPoint{1000, 0}));
}

// Every screen pixel checked against the rule: black when a page pixel it
// covers is black.
void ExpectCoverRule(const PageBitmap& page, AxisScale xs, AxisScale ys, const ViewRect& area) {
  const RgbImage image = DrawPageArea(page, xs, ys, area);
  ASSERT_EQ(image.width, static_cast<uint32_t>(area.Width()));
  ASSERT_EQ(image.height, static_cast<uint32_t>(area.Height()));
  for (uint32_t j = 0; j < image.height; ++j)
    for (uint32_t i = 0; i < image.width; ++i) {
      const uint64_t X = area.left + i, Y = area.top + j;
      bool black = false;
      for (uint64_t y = Y * ys.den / ys.num; y * ys.num < (Y + 1) * ys.den && y < page.Height(); ++y)
        for (uint64_t x = X * xs.den / xs.num; x * xs.num < (X + 1) * xs.den && x < page.Width(); ++x)
          black |= !page.IsWhite(static_cast<uint32_t>(x), static_cast<uint32_t>(y));
      ASSERT_EQ(image.IsBlack(i, j), black) << "screen pixel " << X << ", " << Y;
    }
}

TEST(DrawPageArea, ScreenPixelsFollowThePagePixelsTheyCover) {
  std::vector<std::pair<uint32_t, uint32_t>> dots;
  for (uint32_t i = 0; i < 200; ++i) dots.push_back({(i * 37) % 300, (i * 53) % 180});
  dots.push_back({299, 179});
  const PageBitmap page = PageWith(1728, 180, 98, dots);
  const AxisScale scales[] = {{1, 4}, {1, 2}, {3, 4}, {1, 1}, {2, 1}, {3, 1}, {3, 2}, {6, 1}, {2400, 1728}, {1000, 1728}};
  for (AxisScale xs : scales)
    for (AxisScale ys : {AxisScale{1, 2}, AxisScale{3, 2}, AxisScale{2, 1}, AxisScale{1, 4}}) {
      SCOPED_TRACE(std::to_string(xs.num) + "/" + std::to_string(xs.den) + " x " + std::to_string(ys.num) + "/" +
                   std::to_string(ys.den));
      ExpectCoverRule(page, xs, ys, {3, 5, 3 + 170, 5 + 61});
    }
}

TEST(DrawPageArea, AQuarterKeepsASinglePixelLine) {
  // One-pixel lines at x = 1001 and y = 1003 show at a quarter as screen
  // column 250 and row 250, across the whole page.
  std::vector<std::pair<uint32_t, uint32_t>> dots;
  for (uint32_t y = 0; y < 2200; ++y) dots.push_back({1001, y});
  for (uint32_t x = 0; x < 1728; ++x) dots.push_back({x, 1003});
  const PageBitmap page = PageWith(1728, 2200, 196, dots);
  const RgbImage image = DrawZoomed(page, ZoomAt(25), {0, 0, 1280, 1024});
  ASSERT_EQ(image.width, 432u);
  ASSERT_EQ(image.height, 550u);
  for (uint32_t j = 0; j < image.height; ++j) EXPECT_TRUE(image.IsBlack(250, j)) << j;
  for (uint32_t i = 0; i < image.width; ++i) EXPECT_TRUE(image.IsBlack(i, 250)) << i;
  EXPECT_FALSE(image.IsBlack(249, 249));
  EXPECT_FALSE(image.IsBlack(251, 251));
}

TEST(DrawPageArea, NormalPagesShowEveryLineTwice) {
  const PageBitmap page = PageWith(1728, 100, 98, {{10, 7}});
  const ZoomScale zoom = ZoomAt(100, 98);
  const RgbImage image = DrawZoomed(page, zoom, {0, 0, 1728, 400});
  ASSERT_EQ(image.height, 200u);  // twice the page's lines
  for (uint32_t y = 0; y < image.height; ++y) EXPECT_EQ(image.IsBlack(10, y), y == 14 || y == 15) << y;
}

TEST(DrawPageArea, OnlyTheVisibleAreaOfAHugePageIsDrawn) {
  // 2432 x 65535 at 300%: 7296 x 196605 screen pixels, of which a window
  // shows 1280 x 1024, far down the page.
  const PageBitmap page = PageWith(2432, 65535, 196, {{2431, 65534}, {1000, 40000}});
  const ZoomScale zoom = ZoomAt(300);
  const RgbImage window = DrawZoomed(page, zoom, {2500, 119500, 2500 + 1280, 119500 + 1024});
  EXPECT_EQ(window.pixels.size(), 1280u * 1024u * 3u);
  EXPECT_EQ(window.left, 2500);
  EXPECT_EQ(window.top, 119500);
  EXPECT_TRUE(window.IsBlack(3000 - 2500, 120000 - 119500));
  EXPECT_TRUE(window.IsBlack(3002 - 2500, 120002 - 119500));
  EXPECT_FALSE(window.IsBlack(3003 - 2500, 120000 - 119500));
  // The bottom-right corner: the image stops at the page.
  const RgbImage corner = DrawZoomed(page, zoom, {7296 - 100, 196605 - 50, 7296 + 300, 196605 + 300});
  EXPECT_EQ(corner.width, 100u);
  EXPECT_EQ(corner.height, 50u);
  EXPECT_TRUE(corner.IsBlack(99, 49));
  EXPECT_FALSE(corner.IsBlack(96, 46));
}

TEST(DrawPageArea, APageWithoutPixelsDrawsNothing) {
  PageBitmap empty;
  empty.Load({1728, 0, 204, 196, 0, 2}, nullptr, 0);
  EXPECT_EQ(ScrollSize(empty, ZoomAt(100)), (PixelSize{1728, 0}));
  EXPECT_TRUE(DrawZoomed(empty, ZoomAt(100), {0, 0, 800, 600}).pixels.empty());
  empty.Rotate(1);
  EXPECT_TRUE(DrawZoomed(empty, ZoomAt(300), {0, 0, 800, 600}).pixels.empty());
  EXPECT_TRUE(DrawPageArea(empty, {1, 1}, {1, 1}, {0, 0, 10, 10}).IsBlack(0, 0) == false);
}

TEST(PrintFit, FillsThePrintableWidthInProportion) {
  struct {
    const char* paper;
    uint16_t width, length, yResolution;
    double w, h;
    PixelSize fit;
  } const cases[] = {
      // A4 at 300 dpi, printable 8.0 x 11.3 in: a fine page fills the width.
      {"A4", 1728, 2200, 196, 2400, 3390, {2400, 3180}},
      // The same page at normal resolution (1100 lines).
      {"A4", 1728, 1100, 98, 2400, 3390, {2400, 3180}},
      // Letter at 300 dpi, printable 8.0 x 10.5 in: too tall, fitted to the height.
      {"Letter", 1728, 2200, 196, 2400, 3150, {2377, 3150}},
      // A page turned a quarter, landscape on portrait paper.
      {"A4 turned", 2200, 1728, 204, 2400, 3390, {2400, 1811}},
      // A long page.
      {"A4 long", 1728, 6000, 196, 2400, 3390, {938, 3390}},
  };
  for (const auto& c : cases) {
    PageBitmap page;
    std::vector<uint8_t> rows(static_cast<size_t>(PageBitmap::StrideOf(c.width)) * c.length, 0xFF);
    const bool turned = c.yResolution == 204;
    page.Load({c.width, c.length, static_cast<uint16_t>(turned ? 196 : 204), c.yResolution, 0, 2}, rows.data(), 0);
    EXPECT_EQ(PrintFit(page, c.w, c.h), c.fit) << c.paper;
  }
  PageBitmap empty;
  EXPECT_EQ(PrintFit(empty, 2400, 3390), (PixelSize{0, 0}));
  empty.Load({1728, 0, 204, 196, 0, 2}, nullptr, 0);
  EXPECT_EQ(PrintFit(empty, 2400, 3390), (PixelSize{0, 0}));
  empty.Rotate(1);
  EXPECT_EQ(PrintFit(empty, 2400, 3390), (PixelSize{0, 0}));
}

}  // namespace
}  // namespace korvo
