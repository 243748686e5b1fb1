// The page on screen (and the page being printed): a monochrome bitmap, most
// significant bit first, a set bit white, each row padded to an even number of
// bytes with white pad bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/page_descriptor.h"

namespace korvo {

class PageBitmap {
 public:
  PageBitmap();

  // Takes the rows of a decoded page (stride as the reader gives it: the
  // width in bytes rounded up to even). The pad bits become white.
  void Load(const PageDescriptor& descriptor, const uint8_t* rows, int32_t index);
  void Free();
  // Turns the bitmap by d quarter turns (-1 left, 1 right, 2 half); for a
  // quarter turn width and length and the two resolutions swap.
  void Rotate(int32_t d);

  bool Loaded() const { return loaded_; }
  const PageDescriptor& Descriptor() const { return descriptor_; }
  int32_t Index() const { return index_; }
  uint32_t Width() const { return descriptor_.width; }
  uint32_t Height() const { return descriptor_.length; }
  uint32_t Stride() const { return StrideOf(descriptor_.width); }
  const uint8_t* Row(uint32_t y) const { return rows_.data() + static_cast<size_t>(y) * Stride(); }
  const std::vector<uint8_t>& Rows() const { return rows_; }
  bool IsWhite(uint32_t x, uint32_t y) const { return Row(y)[x / 8] & (0x80 >> (x % 8)); }

  static uint32_t StrideOf(uint32_t width) {
    const uint32_t bytes = (width + 7) / 8;
    return bytes + bytes % 2;
  }

 private:
  void WhitenPad();

  std::vector<uint8_t> rows_;
  bool loaded_ = false;
  PageDescriptor descriptor_;
  int32_t index_ = -1;
};

}  // namespace korvo
