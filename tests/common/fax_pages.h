// Page content for the imaging tests and benchmarks: text-like lines and
// their modified Huffman coding.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "common/bits.h"
#include "common/huffman.h"

namespace korvo::test {

// A page of `lines` rows, msb first, black bits 1: bands of text-like rows
// (glyph strokes a few pixels wide) between white margins and line gaps.
inline std::vector<uint8_t> TextPage(uint32_t width, uint32_t lines, uint32_t seed) {
  const uint32_t stride = (width + 7) / 8;
  std::vector<uint8_t> page(static_cast<size_t>(stride) * lines, 0);
  std::mt19937 rng(seed);
  for (uint32_t y = 0; y < lines; ++y) {
    if (y % 40 >= 28 || y < 80 || y + 80 > lines) continue;  // gap between text lines, margins
    uint8_t* row = &page[static_cast<size_t>(y) * stride];
    uint32_t x = 100;
    while (x + 100 < width) {
      if (rng() % 12 == 0) {
        x += 10 + rng() % 20;  // space between words
        continue;
      }
      const uint32_t run = 1 + rng() % 4;
      for (uint32_t i = 0; i < run; ++i, ++x) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      x += 1 + rng() % 6;
    }
  }
  return page;
}

// Codes a bitmap (msb first, black 1) as one page, lsb first, padded.
inline std::vector<uint8_t> EncodePage(const std::vector<uint8_t>& bitmap, uint32_t width, uint32_t lines) {
  const uint32_t stride = (width + 7) / 8;
  BitBuffer out(16384, 8192, kLsbFirst);
  for (uint32_t y = 0; y < lines; ++y) {
    BitArray line(&bitmap[static_cast<size_t>(y) * stride], BitLength::FromBits(width), kMsbFirst);
    HuffmanEncoder enc(line, out, 0, width);
    enc.EncodeLine();
  }
  out.PadToByte('0');
  return std::vector<uint8_t>(out.Data(), out.Data() + out.ByteCount());
}

}  // namespace korvo::test
