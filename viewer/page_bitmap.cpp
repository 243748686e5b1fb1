#include "viewer/page_bitmap.h"

#include <array>
#include <utility>

namespace korvo {

namespace {

constexpr std::array<uint8_t, 256> kReversed = [] {
  std::array<uint8_t, 256> t{};
  for (int b = 0; b < 256; ++b) {
    int r = 0;
    for (int i = 0; i < 8; ++i)
      if (b & (1 << i)) r |= 0x80 >> i;
    t[b] = static_cast<uint8_t>(r);
  }
  return t;
}();

// The 8 x 8 bit block transposed: bit j of out[i] (counted from the most
// significant) is bit i of in[j].
void Transpose8(const uint8_t in[8], uint8_t out[8]) {
  uint32_t x = static_cast<uint32_t>(in[0]) << 24 | in[1] << 16 | in[2] << 8 | in[3];
  uint32_t y = static_cast<uint32_t>(in[4]) << 24 | in[5] << 16 | in[6] << 8 | in[7];
  uint32_t t = (x ^ (x >> 7)) & 0x00AA00AA;
  x = x ^ t ^ (t << 7);
  t = (y ^ (y >> 7)) & 0x00AA00AA;
  y = y ^ t ^ (t << 7);
  t = (x ^ (x >> 14)) & 0x0000CCCC;
  x = x ^ t ^ (t << 14);
  t = (y ^ (y >> 14)) & 0x0000CCCC;
  y = y ^ t ^ (t << 14);
  t = (x & 0xF0F0F0F0) | ((y >> 4) & 0x0F0F0F0F);
  y = ((x << 4) & 0xF0F0F0F0) | (y & 0x0F0F0F0F);
  x = t;
  for (int i = 0; i < 4; ++i) {
    out[i] = static_cast<uint8_t>(x >> (24 - 8 * i));
    out[i + 4] = static_cast<uint8_t>(y >> (24 - 8 * i));
  }
}

}  // namespace

PageBitmap::PageBitmap() { descriptor_ = {0, 0, 204, 196, 0, 2}; }

void PageBitmap::Load(const PageDescriptor& descriptor, const uint8_t* rows, int32_t index) {
  descriptor_ = descriptor;
  const size_t size = static_cast<size_t>(Stride()) * descriptor.length;
  rows_.assign(rows, rows + size);
  WhitenPad();
  loaded_ = true;
  index_ = index;
}

void PageBitmap::Free() {
  rows_.clear();
  rows_.shrink_to_fit();
  loaded_ = false;
  index_ = -1;
}

void PageBitmap::WhitenPad() {
  const uint32_t w = Width(), stride = Stride();
  if (w == stride * 8) return;
  for (uint32_t y = 0; y < Height(); ++y) {
    uint8_t* row = rows_.data() + static_cast<size_t>(y) * stride;
    uint32_t b = w / 8;
    if (w % 8) row[b++] |= static_cast<uint8_t>(0xFF >> (w % 8));
    for (; b < stride; ++b) row[b] = 0xFF;
  }
}

void PageBitmap::Rotate(int32_t d) {
  if (!loaded_ || d == 0) return;
  const uint32_t w = Width(), h = Height(), stride = Stride();
  const uint32_t srcBytes = (w + 7) / 8;
  if (d == 2) {
    // Each row reversed bit by bit over the whole stride puts the pad bits in
    // front; shifting by their number brings the pixels back to bit 0.
    const uint32_t pad = stride * 8 - w, skip = pad / 8, shift = pad % 8;
    std::vector<uint8_t> out(rows_.size(), 0xFF), reversed(stride + 1, 0xFF);
    for (uint32_t y = 0; y < h; ++y) {
      const uint8_t* src = Row(h - 1 - y);
      for (uint32_t i = 0; i < stride; ++i) reversed[i] = kReversed[src[stride - 1 - i]];
      uint8_t* dst = out.data() + static_cast<size_t>(y) * stride;
      for (uint32_t i = 0; i + skip < stride; ++i) {
        const uint32_t hi = reversed[i + skip], lo = reversed[i + skip + 1];
        dst[i] = static_cast<uint8_t>(shift ? (hi << shift | lo >> (8 - shift)) : hi);
      }
    }
    rows_ = std::move(out);
  } else {
    // Quarter turns move 8 x 8 blocks. Rows past the end of the page are not
    // read but taken as white, so the new pad bits are white; the old pad
    // bits land on rows past the new end, which are not written.
    const uint32_t newStride = StrideOf(h), dstBytes = (h + 7) / 8;
    std::vector<uint8_t> out(static_cast<size_t>(newStride) * w, 0xFF);
    uint8_t in[8], block[8];
    for (uint32_t by = 0; by < srcBytes; ++by) {
      for (uint32_t bx = 0; bx < dstBytes; ++bx) {
        for (uint32_t k = 0; k < 8; ++k) {
          const int64_t r = d > 0 ? static_cast<int64_t>(h) - 1 - 8 * bx - k : 8 * bx + k;
          in[k] = r >= 0 && r < h ? Row(static_cast<uint32_t>(r))[by] : 0xFF;
        }
        Transpose8(in, block);
        for (uint32_t j = 0; j < 8; ++j) {
          const uint32_t column = 8 * by + j;
          if (column >= w) break;
          const uint32_t y = d > 0 ? column : w - 1 - column;
          out[static_cast<size_t>(y) * newStride + bx] = block[j];
        }
      }
    }
    rows_ = std::move(out);
    std::swap(descriptor_.width, descriptor_.length);
    std::swap(descriptor_.xResolution, descriptor_.yResolution);
  }
}

}  // namespace korvo
