#include "viewer/zoom_scale.h"

namespace korvo {

const ZoomLevel* ZoomByPercent(uint32_t percent) {
  for (const auto& z : kZoomLevels)
    if (z.percent == percent) return &z;
  return nullptr;
}

const ZoomLevel* ZoomByCommand(int32_t command) {
  for (const auto& z : kZoomLevels)
    if (z.command == command) return &z;
  return nullptr;
}

ZoomScale::ZoomScale() { Compute(); }

void ZoomScale::SetZoom(const ZoomLevel& level) {
  percent_ = level.percent;
  numerator_ = level.numerator;
  denominator_ = level.denominator;
  Compute();
}

void ZoomScale::SetAspect(uint32_t xResolution, uint32_t yResolution) {
  if (xResolution == 0 || yResolution == 0) {
    xFactor_ = yFactor_ = 1;
  } else if (yResolution < xResolution) {
    xFactor_ = xResolution / yResolution;
    yFactor_ = 1;
  } else {
    xFactor_ = 1;
    yFactor_ = yResolution / xResolution;
  }
  Compute();
}

void ZoomScale::Compute() {
  const uint32_t n = numerator_, d = denominator_, fx = xFactor_, fy = yFactor_;
  // The axis with the larger factor gets it multiplied in, and is reduced by
  // it again where both terms allow.
  const auto reduce = [](uint32_t& num, uint32_t& den, uint32_t factor) {
    if (factor != 1 && num != 1 && den != 1 && num % factor == 0 && den % factor == 0) {
      num /= factor;
      den /= factor;
    }
  };
  if (fy < fx) {
    xNum_ = n, xDen_ = d;
    yNum_ = fx * n, yDen_ = fy * d;
    reduce(yNum_, yDen_, fx);
  } else {
    xNum_ = fy * n, xDen_ = fx * d;
    yNum_ = n, yDen_ = d;
    reduce(xNum_, xDen_, fy);
  }
  stretch_ = !(xNum_ == 1 && xDen_ == 1 && yNum_ == 1 && yDen_ == 1);
}

PixelSize ZoomScale::Scaled(uint32_t width, uint32_t height) const {
  return {(width + xDen_ - 1) / xDen_ * xNum_, (height + yDen_ - 1) / yDen_ * yNum_};
}

}  // namespace korvo
