#include "viewer/view_geometry.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace korvo {

ViewRect ViewRect::Intersect(const ViewRect& o) const {
  ViewRect r{std::max(left, o.left), std::max(top, o.top), std::min(right, o.right), std::min(bottom, o.bottom)};
  if (r.Empty()) return {};
  return r;
}

PixelSize ScrollSize(const PageBitmap& bitmap, const ZoomScale& zoom) {
  if (!bitmap.Loaded()) return {};
  return zoom.Scaled(bitmap.Width(), bitmap.Height());
}

std::vector<ViewRect> BackgroundRegion(PixelSize client, PixelSize page) {
  const int32_t pw = static_cast<int32_t>(page.width), ph = static_cast<int32_t>(page.height);
  const int32_t w = std::max(pw, static_cast<int32_t>(client.width));
  const int32_t h = std::max(ph, static_cast<int32_t>(client.height));
  std::vector<ViewRect> region;
  if (w > pw) region.push_back({pw, 0, w, h});
  if (h > ph && pw > 0) region.push_back({0, ph, pw, h});
  return region;
}

ViewPoint KeepPlace(int32_t d, ViewPoint position, PixelSize client, PixelSize oldPage, PixelSize newPage) {
  const int64_t cw = client.width, ch = client.height;
  const int64_t ow = oldPage.width, oh = oldPage.height;
  // The corner of the visible part, within the page.
  int64_t x = position.x + (d == 1 ? 0 : cw - 1);
  int64_t y = position.y + (d == -1 ? 0 : ch - 1);
  x = std::clamp<int64_t>(x, 0, std::max<int64_t>(ow - 1, 0));
  y = std::clamp<int64_t>(y, 0, std::max<int64_t>(oh - 1, 0));
  int64_t nx, ny;
  if (d == 1) {
    nx = oh - 1 - y, ny = x;
  } else if (d == -1) {
    nx = y, ny = ow - 1 - x;
  } else {
    nx = ow - 1 - x, ny = oh - 1 - y;
  }
  const auto fit = [](int64_t v, int64_t page, int64_t window) {
    return page <= window ? 0 : std::clamp<int64_t>(v, 0, page - window);
  };
  return {static_cast<int32_t>(fit(nx, newPage.width, cw)), static_cast<int32_t>(fit(ny, newPage.height, ch))};
}

namespace {

// Page pixels [first, last) under one screen pixel, within `limit`.
struct Span {
  uint32_t first = 0, last = 0;
};
Span Covered(int64_t screen, AxisScale s, uint32_t limit) {
  if (screen < 0 || s.num == 0) return {};
  const uint64_t x = static_cast<uint64_t>(screen);
  const uint64_t first = x * s.den / s.num;
  const uint64_t last = ((x + 1) * s.den + s.num - 1) / s.num;
  return {static_cast<uint32_t>(std::min<uint64_t>(first, limit)), static_cast<uint32_t>(std::min<uint64_t>(last, limit))};
}

bool AnySet(const uint8_t* bits, uint32_t first, uint32_t last) {
  while (first < last) {
    const uint32_t bit = first % 8, n = std::min(8 - bit, last - first);
    const uint8_t mask = static_cast<uint8_t>((0xFF >> bit) & (0xFF << (8 - bit - n)));
    if (bits[first / 8] & mask) return true;
    first += n;
  }
  return false;
}

}  // namespace

RgbImage DrawPageArea(const PageBitmap& bitmap, AxisScale xs, AxisScale ys, const ViewRect& area) {
  RgbImage out;
  if (area.Empty()) return out;
  out.left = area.left;
  out.top = area.top;
  out.width = static_cast<uint32_t>(area.Width());
  out.height = static_cast<uint32_t>(area.Height());
  out.pixels.assign(static_cast<size_t>(out.width) * out.height * 3, 0xFF);
  if (!bitmap.Loaded() || bitmap.Width() == 0 || bitmap.Height() == 0) return out;

  std::vector<Span> columns(out.width);
  uint32_t firstByte = UINT32_MAX, lastByte = 0;
  for (uint32_t i = 0; i < out.width; ++i) {
    columns[i] = Covered(static_cast<int64_t>(area.left) + i, xs, bitmap.Width());
    if (columns[i].first < columns[i].last) {
      firstByte = std::min(firstByte, columns[i].first / 8);
      lastByte = std::max(lastByte, (columns[i].last - 1) / 8);
    }
  }
  if (firstByte == UINT32_MAX) return out;

  // Black bits of the page rows under one screen row; screen rows over the
  // same page rows (enlarging) are copies of the one before.
  std::vector<uint8_t> black(bitmap.Stride(), 0);
  Span previous{UINT32_MAX, UINT32_MAX};
  const size_t rowBytes = static_cast<size_t>(out.width) * 3;
  for (uint32_t j = 0; j < out.height; ++j) {
    const Span rows = Covered(static_cast<int64_t>(area.top) + j, ys, bitmap.Height());
    if (rows.first >= rows.last) continue;
    uint8_t* dst = out.pixels.data() + rowBytes * j;
    if (rows.first == previous.first && rows.last == previous.last) {
      std::memcpy(dst, dst - rowBytes, rowBytes);
      continue;
    }
    previous = rows;
    for (uint32_t b = firstByte; b <= lastByte; ++b) {
      uint8_t white = 0xFF;
      for (uint32_t r = rows.first; r < rows.last; ++r) white &= bitmap.Row(r)[b];
      black[b] = static_cast<uint8_t>(~white);
    }
    for (uint32_t i = 0; i < out.width; ++i) {
      const Span& c = columns[i];
      if (c.first < c.last && AnySet(black.data(), c.first, c.last)) std::memset(dst + 3 * i, 0, 3);
    }
  }
  return out;
}

RgbImage DrawZoomed(const PageBitmap& bitmap, const ZoomScale& zoom, const ViewRect& area) {
  const PixelSize page = ScrollSize(bitmap, zoom);
  const ViewRect visible =
      area.Intersect({0, 0, static_cast<int32_t>(page.width), static_cast<int32_t>(page.height)});
  return DrawPageArea(bitmap, {zoom.XNum(), zoom.XDen()}, {zoom.YNum(), zoom.YDen()}, visible);
}

PixelSize PrintFit(const PageBitmap& bitmap, double width, double height) {
  const PageDescriptor& d = bitmap.Descriptor();
  if (!bitmap.Loaded() || d.width == 0 || d.length == 0 || d.yResolution == 0 || width <= 0 || height <= 0)
    return {};
  const double bw = d.width;
  const double corrected = static_cast<double>(d.length) * d.xResolution / d.yResolution;
  double w = width, h = width / bw * corrected;
  if (h > height) {
    w = height / corrected * bw;
    h = height;
  }
  return {static_cast<uint32_t>(std::round(w)), static_cast<uint32_t>(std::round(h))};
}

}  // namespace korvo
