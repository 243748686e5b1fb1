// The zoom of the viewer's document: a percentage, its fraction, and the page
// aspect (normal-resolution pages are shown with every line doubled).
#pragma once

#include <cstdint>
#include <optional>

namespace korvo {

struct ZoomLevel {
  int32_t command;
  const char* menuText;
  uint32_t percent;
  uint32_t numerator;
  uint32_t denominator;
};

inline constexpr ZoomLevel kZoomLevels[] = {
    {32780, "&25%", 25, 1, 4},   {32781, "&50%", 50, 1, 2},  {32782, "&75%", 75, 3, 4},
    {32783, "&100%", 100, 1, 1}, {32784, "2&00%", 200, 2, 1}, {32785, "&300%", 300, 3, 1},
};

const ZoomLevel* ZoomByPercent(uint32_t percent);
const ZoomLevel* ZoomByCommand(int32_t command);

struct PixelSize {
  uint32_t width = 0;
  uint32_t height = 0;
  bool operator==(const PixelSize&) const = default;
};

class ZoomScale {
 public:
  ZoomScale();

  void SetZoom(const ZoomLevel& level);
  // The page aspect from its x and y resolution.
  void SetAspect(uint32_t xResolution, uint32_t yResolution);

  uint32_t Percent() const { return percent_; }
  uint32_t XFactor() const { return xFactor_; }
  uint32_t YFactor() const { return yFactor_; }
  // Screen pixels xnum show xden page pixels (likewise for y).
  uint32_t XNum() const { return xNum_; }
  uint32_t XDen() const { return xDen_; }
  uint32_t YNum() const { return yNum_; }
  uint32_t YDen() const { return yDen_; }
  bool Stretch() const { return stretch_; }
  // A w x h bitmap at this zoom.
  PixelSize Scaled(uint32_t width, uint32_t height) const;

 private:
  void Compute();

  uint32_t percent_ = 25;
  uint32_t numerator_ = 1;
  uint32_t denominator_ = 4;
  uint32_t xFactor_ = 1;
  uint32_t yFactor_ = 1;
  uint32_t xNum_ = 1, xDen_ = 1, yNum_ = 1, yDen_ = 1;
  bool stretch_ = false;
};

}  // namespace korvo
