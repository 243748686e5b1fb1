// Pixel checks on drawn pages: the ink of a region, its bounding box, and the
// decoding of a coded page back into rows.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "common/bits.h"
#include "common/huffman.h"
#include "common/page_renderer.h"

namespace korvo::test {

// Rows of a page, most significant bit first, a set bit white.
struct PageBits {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> rows;

  uint32_t Stride() const { return (width + 7) / 8; }
  bool IsBlack(uint32_t x, uint32_t y) const {
    return !(rows[static_cast<size_t>(y) * Stride() + x / 8] & (0x80 >> (x % 8)));
  }

  static PageBits Of(const PageRenderer& page) {
    PageBits bits{page.Width(), page.Height(), {}};
    bits.rows.resize(static_cast<size_t>(bits.Stride()) * bits.height);
    for (uint32_t y = 0; y < bits.height; ++y) page.CopyRow(y, &bits.rows[static_cast<size_t>(y) * bits.Stride()]);
    return bits;
  }

  // A coded page (lsb first, white runs first) decoded into rows.
  static PageBits Decode(const uint8_t* data, uint32_t byteCount, uint32_t width, uint32_t height) {
    PageBits bits{width, height, {}};
    BitArray source(data, BitLength::FromBytes(byteCount), kLsbFirst);
    BitBuffer out(bits.Stride() * height, 0, kMsbFirst);
    HuffmanDecompression decoder(source, &out, 0, 1, width);
    decoder.DecodeLines(height, bits.Stride() * 8 - width);
    bits.rows.assign(out.Data(), out.Data() + out.ByteCount());
    bits.rows.resize(static_cast<size_t>(bits.Stride()) * height);
    return bits;
  }
};

// Black pixels of the region.
inline uint32_t Ink(const PageBits& page, const PageRect& r) {
  uint32_t n = 0;
  for (int32_t y = std::max(r.top, 0); y < std::min<int32_t>(r.bottom, page.height); ++y)
    for (int32_t x = std::max(r.left, 0); x < std::min<int32_t>(r.right, page.width); ++x)
      n += page.IsBlack(x, y);
  return n;
}

// The smallest rectangle that holds every black pixel of the region (all zero
// when there is none).
inline PageRect InkBox(const PageBits& page, const PageRect& r) {
  PageRect box{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
  for (int32_t y = std::max(r.top, 0); y < std::min<int32_t>(r.bottom, page.height); ++y)
    for (int32_t x = std::max(r.left, 0); x < std::min<int32_t>(r.right, page.width); ++x)
      if (page.IsBlack(x, y)) {
        box.left = std::min(box.left, x);
        box.top = std::min(box.top, y);
        box.right = std::max(box.right, x + 1);
        box.bottom = std::max(box.bottom, y + 1);
      }
  return box.left == INT32_MAX ? PageRect{} : box;
}

// Rows of ink in the region: the y of every row that has a black pixel.
inline std::vector<int32_t> InkRows(const PageBits& page, const PageRect& r) {
  std::vector<int32_t> ys;
  for (int32_t y = r.top; y < r.bottom; ++y)
    if (Ink(page, {r.left, y, r.right, y + 1}) != 0) ys.push_back(y);
  return ys;
}

}  // namespace korvo::test
