// A literal, bit-at-a-time decoder that walks the code trees: the yardstick
// the table-driven HuffmanDecompression must match bit for bit, bad lines
// included. Shared by the tests and the decoder fuzz target.
#pragma once

#include <cstdint>
#include <string>

#include "common/bits.h"
#include "common/huffman.h"

namespace korvo::test {

class ReferenceDecoder {
 public:
  ReferenceDecoder(BitArray& source, std::string* out, uint32_t invert, uint32_t convention, uint32_t width)
      : src_(source), out_(out), invert_(invert), convention_(convention), width_(width) {}

  void DecodeLines(uint32_t n, uint32_t pad) {
    ExpectEol();
    for (uint32_t i = 0; i < n; ++i) {
      DecodeLine(i + 1 == n);
      if (out_ && pad) out_->append(pad, '0');
    }
  }

  bool CountLines(uint16_t& count) {
    count = 0;
    ExpectEol();
    uint32_t empty = 0, total = 0;
    for (;;) {
      if (DecodeLine(false)) {
        if (++empty == 5) return true;
        continue;
      }
      total += empty + 1;
      empty = 0;
      if (total > 0xFFFF) return false;
      count = static_cast<uint16_t>(total);
    }
  }

 private:
  int NextCode(int colour, const HuffmanCode*& e) {
    int st = HuffmanTree::ForColour(colour).Walk(src_, e);
    if (st != kWalkOk) return st;
    if (e == &FillEolCode) {
      char b;
      do {
        if (!src_.GetBit(b)) return kWalkInsideCode;
      } while (b != '1');
      e = &EolCode;
    }
    return kWalkOk;
  }
  void SkipToEol(int st) {
    if (st == kWalkInsideCode || st == kWalkEndOfData) return;
    for (;;) {
      const HuffmanCode* e = nullptr;
      st = NextCode(0, e);
      if (st == kWalkOk && e == &EolCode) return;
      if (st == kWalkInsideCode || st == kWalkEndOfData) return;
    }
  }
  void ExpectEol() {
    const HuffmanCode* e = nullptr;
    int st = NextCode(0, e);
    if (!(st == kWalkOk && e == &EolCode)) SkipToEol(st);
  }
  char Char(int index) const { return (index == 0) == (convention_ == 1) ? '1' : '0'; }
  bool DecodeLine(bool last) {
    int colour = 0, index = invert_ ? 1 : 0;
    uint32_t codes = 0, total = 0, written = 0;
    for (;;) {
      const HuffmanCode* e = nullptr;
      int st = NextCode(colour, e);
      if (st != kWalkOk) {
        SkipToEol(st);
        break;
      }
      if (e == &EolCode) break;
      ++codes;
      total += e->run;
      if (total > width_) {
        SkipToEol(kWalkOk);
        break;
      }
      if (out_) out_->append(e->run, Char(index));
      written += e->run;
      if (e->kind == kTerminatingCode) {
        colour ^= 1;
        index ^= 1;
      }
      if (total == width_ && e->kind == kTerminatingCode) {
        if (!last) ExpectEol();
        return codes == 0;
      }
    }
    if (out_) out_->append(width_ - written, Char(1));
    return codes == 0;
  }

  BitArray& src_;
  std::string* out_;
  uint32_t invert_, convention_, width_;
};

// The bits of a buffer as characters.
inline std::string BitsOf(const uint8_t* data, uint32_t bitCount, uint32_t order) {
  std::string s;
  s.reserve(bitCount);
  for (uint32_t i = 0; i < bitCount; ++i) {
    const uint8_t b = data[i / 8];
    const bool one = order == kMsbFirst ? (b >> (7 - i % 8)) & 1 : (b >> (i % 8)) & 1;
    s.push_back(one ? '1' : '0');
  }
  return s;
}

}  // namespace korvo::test
