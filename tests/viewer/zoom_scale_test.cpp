#include <gtest/gtest.h>

#include <string>

#include "viewer/zoom_scale.h"

namespace korvo {
namespace {

struct ZoomCase {
  uint32_t xResolution, yResolution, percent;
  uint32_t xNum, xDen, yNum, yDen;
  PixelSize scaled;  // of a 1728 x 1145 bitmap (its width and height swapped for 98 x 204)
};

void PrintTo(const ZoomCase& c, std::ostream* os) { *os << c.xResolution << " x " << c.yResolution << " at " << c.percent << "%"; }

class ZoomFractions : public ::testing::TestWithParam<ZoomCase> {};

TEST_P(ZoomFractions, FollowThePageAspect) {
  const ZoomCase c = GetParam();
  ZoomScale zoom;
  zoom.SetAspect(c.xResolution, c.yResolution);
  zoom.SetZoom(*ZoomByPercent(c.percent));
  EXPECT_EQ(zoom.Percent(), c.percent);
  EXPECT_EQ(zoom.XNum(), c.xNum);
  EXPECT_EQ(zoom.XDen(), c.xDen);
  EXPECT_EQ(zoom.YNum(), c.yNum);
  EXPECT_EQ(zoom.YDen(), c.yDen);
  EXPECT_EQ(zoom.Stretch(), !(c.xNum == 1 && c.xDen == 1 && c.yNum == 1 && c.yDen == 1));
  const bool turned = c.xResolution < c.yResolution;
  EXPECT_EQ(turned ? zoom.Scaled(1145, 1728) : zoom.Scaled(1728, 1145), c.scaled);
}

INSTANTIATE_TEST_SUITE_P(
    SixZooms, ZoomFractions,
    ::testing::Values(
        // Fine pages: the zoom itself.
        ZoomCase{204, 196, 25, 1, 4, 1, 4, {432, 287}}, ZoomCase{204, 196, 50, 1, 2, 1, 2, {864, 573}},
        ZoomCase{204, 196, 75, 3, 4, 3, 4, {1296, 861}}, ZoomCase{204, 196, 100, 1, 1, 1, 1, {1728, 1145}},
        ZoomCase{204, 196, 200, 2, 1, 2, 1, {3456, 2290}}, ZoomCase{204, 196, 300, 3, 1, 3, 1, {5184, 3435}},
        // Normal pages: every line twice as high.
        ZoomCase{204, 98, 25, 1, 4, 1, 2, {432, 573}}, ZoomCase{204, 98, 50, 1, 2, 1, 1, {864, 1145}},
        ZoomCase{204, 98, 75, 3, 4, 3, 2, {1296, 1719}}, ZoomCase{204, 98, 100, 1, 1, 2, 1, {1728, 2290}},
        ZoomCase{204, 98, 200, 2, 1, 4, 1, {3456, 4580}}, ZoomCase{204, 98, 300, 3, 1, 6, 1, {5184, 6870}},
        // A normal page turned a quarter: every column twice as wide.
        ZoomCase{98, 204, 25, 1, 2, 1, 4, {573, 432}}, ZoomCase{98, 204, 50, 1, 1, 1, 2, {1145, 864}},
        ZoomCase{98, 204, 75, 3, 2, 3, 4, {1719, 1296}}, ZoomCase{98, 204, 100, 2, 1, 1, 1, {2290, 1728}},
        ZoomCase{98, 204, 200, 4, 1, 2, 1, {4580, 3456}}, ZoomCase{98, 204, 300, 6, 1, 3, 1, {6870, 5184}}),
    [](const auto& info) {
      return std::to_string(info.param.xResolution) + "x" + std::to_string(info.param.yResolution) + "at" +
             std::to_string(info.param.percent);
    });

TEST(ZoomScale, StartsAtAQuarterWithoutAspect) {
  ZoomScale zoom;
  EXPECT_EQ(zoom.Percent(), 25u);
  EXPECT_EQ(zoom.XFactor(), 1u);
  EXPECT_EQ(zoom.YFactor(), 1u);
  EXPECT_EQ(zoom.Scaled(0, 0), (PixelSize{0, 0}));
}

TEST(ZoomScale, AspectFactorsComeFromTheResolutions) {
  struct {
    uint32_t x, y, fx, fy;
  } const cases[] = {{204, 196, 1, 1}, {204, 98, 2, 1}, {98, 204, 1, 2}, {196, 204, 1, 1}};
  for (const auto& c : cases) {
    ZoomScale zoom;
    zoom.SetAspect(c.x, c.y);
    EXPECT_EQ(zoom.XFactor(), c.fx) << c.x << " x " << c.y;
    EXPECT_EQ(zoom.YFactor(), c.fy) << c.x << " x " << c.y;
  }
}

TEST(ZoomScale, TableKeepsCommandsAndMenuTexts) {
  ASSERT_NE(ZoomByCommand(32784), nullptr);
  EXPECT_STREQ(ZoomByCommand(32784)->menuText, "2&00%");
  EXPECT_EQ(ZoomByPercent(300)->command, 32785);
  EXPECT_EQ(ZoomByPercent(60), nullptr);
  EXPECT_EQ(ZoomByCommand(32779), nullptr);
}

}  // namespace
}  // namespace korvo
