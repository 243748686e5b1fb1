// What the viewer's windows compute without a window: the page's place in the
// view, the grey area beside it, the place kept when the page is turned, the
// visible part of the page drawn at its zoom, and the page fitted to paper.
#pragma once

#include <cstdint>
#include <vector>

#include "viewer/page_bitmap.h"
#include "viewer/zoom_scale.h"

namespace korvo {

struct ViewRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  int32_t Width() const { return right - left; }
  int32_t Height() const { return bottom - top; }
  bool Empty() const { return right <= left || bottom <= top; }
  ViewRect Intersect(const ViewRect& o) const;
  bool operator==(const ViewRect&) const = default;
};

struct ViewPoint {
  int32_t x = 0, y = 0;
  bool operator==(const ViewPoint&) const = default;
};

// The page at its zoom (0 x 0 without a page): the view's scroll size.
PixelSize ScrollSize(const PageBitmap& bitmap, const ZoomScale& zoom);

// The grey area right of and below a page smaller than the client area, in
// view coordinates (at most two rectangles).
std::vector<ViewRect> BackgroundRegion(PixelSize client, PixelSize page);

// The scroll position that keeps the viewer's place when the page is turned
// by d: the corner of the visible part that the turn brings to the top left
// stays at the top left. `oldPage` and `newPage` are the scroll sizes before
// and after the turn.
ViewPoint KeepPlace(int32_t d, ViewPoint position, PixelSize client, PixelSize oldPage, PixelSize newPage);

// Screen pixels `num` show page pixels `den` along one axis.
struct AxisScale {
  uint64_t num = 1;
  uint64_t den = 1;
};

// An RGB image, 3 bytes a pixel, rows without padding.
struct RgbImage {
  int32_t left = 0;  // where the image goes, in the coordinates of the area drawn
  int32_t top = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> pixels;
  bool IsBlack(uint32_t x, uint32_t y) const { return pixels[(static_cast<size_t>(y) * width + x) * 3] == 0; }
};

// The part `area` (screen coordinates, the page's top left at 0, 0) of the
// page drawn at the given scales: enlarging repeats pixels, and a screen pixel
// is black when any page pixel it covers is black, so reducing keeps thin
// lines. Only the area is drawn; whatever lies beyond the page is white.
RgbImage DrawPageArea(const PageBitmap& bitmap, AxisScale x, AxisScale y, const ViewRect& area);
// The part of `area` (view coordinates) that lies on the page, at a zoom.
RgbImage DrawZoomed(const PageBitmap& bitmap, const ZoomScale& zoom, const ViewRect& area);

// The page's size on paper: the bitmap with its height corrected by the
// resolutions, fitted to the width of the drawing rectangle, or to its height
// when it would be taller, rounded half away from zero; 0 x 0 for a page
// without pixels.
PixelSize PrintFit(const PageBitmap& bitmap, double width, double height);

}  // namespace korvo
