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

// A grey ramp across the page dithered with a random threshold per pixel:
// short runs of both colours everywhere, many of them one pixel long.
inline std::vector<uint8_t> RandomDitherPage(uint32_t width, uint32_t lines, uint32_t seed) {
  const uint32_t stride = (width + 7) / 8;
  std::vector<uint8_t> page(static_cast<size_t>(stride) * lines, 0);
  std::mt19937 rng(seed);
  for (uint32_t y = 0; y < lines; ++y) {
    uint8_t* row = &page[static_cast<size_t>(y) * stride];
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t grey = 32 + 192 * x / width;  // of 256, lighter to darker
      if (rng() % 256 < grey) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
  }
  return page;
}

// A photograph-like halftone: smooth grey shading through an 8x8 ordered
// (Bayer) dither, the regular pattern of scanned pictures.
inline std::vector<uint8_t> HalftonePage(uint32_t width, uint32_t lines) {
  static constexpr uint8_t kBayer[8][8] = {
      {0, 32, 8, 40, 2, 34, 10, 42},   {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
      {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},   {51, 19, 59, 27, 49, 17, 57, 25},
      {15, 47, 7, 39, 13, 45, 5, 37},  {63, 31, 55, 23, 61, 29, 53, 21}};
  const uint32_t stride = (width + 7) / 8;
  std::vector<uint8_t> page(static_cast<size_t>(stride) * lines, 0);
  for (uint32_t y = 0; y < lines; ++y) {
    uint8_t* row = &page[static_cast<size_t>(y) * stride];
    for (uint32_t x = 0; x < width; ++x) {
      // Grey 0..63: a diagonal ramp with a slow wave across it.
      const uint32_t ramp = (x + y) * 48 / (width + lines);
      const uint32_t wave = (x / 64 + y / 64) % 4 * 4;
      if (kBayer[y % 8][x % 8] < ramp + wave) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
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
