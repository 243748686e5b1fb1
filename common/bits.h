// Bit strings of the fax imaging code: a growable output buffer and a reader
// over coded or bitmap data. Bits cross the interfaces as the characters '0'
// and '1'; inside, whole bytes and words are moved wherever the result is the
// same bit for bit.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace korvo {

// Bit orders: 1 is most significant bit first (bitmaps); anything else is least
// significant bit first (coded fax data; the system writes 2).
inline constexpr uint32_t kMsbFirst = 1;
inline constexpr uint32_t kLsbFirst = 2;

struct BitCursor {
  uint32_t index = 0;
  uint8_t mask = 0x01;
  uint32_t order = kLsbFirst;
  uint8_t startMask = 0x01;

  explicit BitCursor(uint32_t bitOrder = kLsbFirst);
  // The cursor standing `bits` bits after the start.
  static BitCursor At(uint32_t bitOrder, uint32_t bits);
  void Advance();
  void Reset();
  bool AtByteBoundary() const { return mask == startMask; }
};

struct BitLength {
  uint32_t bytes = 0;
  uint32_t bits = 0;
  static BitLength FromBits(uint32_t bits) { return {bits / 8 + (bits % 8 != 0), bits}; }
  static BitLength FromBytes(uint32_t bytes) { return {bytes, bytes * 8}; }
};

class HuffmanEncoder;
class HuffmanDecompression;

// Growable output. Every write reserves its room first, which zeroes it; a
// bit is only ever written once, so writing '0' is leaving the zero in place.
class BitBuffer {
 public:
  BitBuffer(uint32_t capacity, uint32_t growStep, uint32_t bitOrder);
  BitBuffer(const BitBuffer&) = delete;
  BitBuffer& operator=(const BitBuffer&) = delete;

  void PutBit(char bit);
  void PutBits(std::string_view bits);
  void PutRepeated(char bit, uint32_t count);
  // Fill so that a following 12-bit EOL ends on a byte boundary.
  void FillForEol(char bit);
  void PadToByte(char bit);

  // Appends `length` (at most 32) bits given as a word already arranged for
  // this buffer's order (see Arrange).
  void PutWord(uint32_t word, unsigned length);
  // A code whose first bit is its most significant, arranged for `bitOrder`.
  static uint32_t Arrange(uint32_t msbFirstCode, unsigned length, uint32_t bitOrder);

  uint32_t BitCount() const { return bitCount_; }
  uint32_t ByteCount() const { return bitCount_ / 8 + (bitCount_ % 8 != 0); }
  uint32_t Capacity() const { return capacity_; }
  uint32_t Order() const { return order_; }
  BitCursor Cursor() const { return BitCursor::At(order_, bitCount_); }
  const uint8_t* Data() const { return data_.get(); }
  void Clear();

 private:
  // The coder writes whole lines straight into the storage once Reserve has
  // made room for them.
  friend class HuffmanEncoder;
  friend class HuffmanDecompression;

  // Zeroed bytes past the capacity, so that whole words can be merged in.
  static constexpr uint32_t kSlack = 8;

  // Grows until `bits` more bits fit (false when the buffer may not grow) and
  // zeroes the room. Storage is zeroed only as it is reserved, just before it
  // is written, so a large bitmap is not cleared twice.
  bool Reserve(uint64_t bits) {
    if (bitCount_ + bits > static_cast<uint64_t>(capacity_) * 8 && !Grow(bits)) return false;
    const uint64_t end = std::min<uint64_t>((bitCount_ + bits) / 8 + 1 + kSlack, storage_);
    if (end > zeroed_) {
      std::memset(data_.get() + zeroed_, 0, end - zeroed_);
      zeroed_ = end;
    }
    return true;
  }
  // Grows until `bits` more bits fit, without zeroing: for a writer that
  // stores every byte it covers and then moves the count and the zeroed mark.
  bool MakeRoom(uint64_t bits) {
    return bitCount_ + bits <= static_cast<uint64_t>(capacity_) * 8 || Grow(bits);
  }
  bool Grow(uint64_t bits);
  void SetOnes(uint32_t first, uint32_t count);

  std::unique_ptr<uint8_t[]> data_;
  uint64_t storage_;      // capacity + slack
  uint64_t zeroed_ = 0;   // bytes from the start that are written or zero
  uint32_t capacity_;
  uint32_t growStep_;
  uint32_t order_;
  uint32_t bitCount_ = 0;
};

// Reader over a bitmap line or a page of coded data, owning its bytes or
// viewing a caller's.
class BitArray {
 public:
  // Owning: `byteLength` zeroed bytes.
  BitArray(uint32_t byteLength, uint32_t bitOrder);
  // Viewing: the caller's data outlives the array.
  BitArray(const uint8_t* data, BitLength length, uint32_t bitOrder);
  BitArray(const BitArray&) = delete;
  BitArray& operator=(const BitArray&) = delete;

  // Owning arrays: reads exactly the byte length from the file (else
  // FileReadingException) and rewinds.
  void ReadFrom(std::FILE* file);
  uint8_t* MutableData() { return owned_.data(); }
  void Rewind() { position_ = 0; }

  bool PeekBit(char& bit) const;
  bool GetBit(char& bit);
  bool GetByte(uint8_t& byte);
  // The current bit and the length of the run of equal bits from there
  // (at most 65535, so that the count never wraps).
  bool NextRun(char& bit, uint16_t& count);

  uint32_t Position() const { return position_; }
  uint32_t PositionBytes() const { return position_ / 8 + (position_ % 8 != 0); }
  void SetPosition(uint32_t bits) { position_ = bits < bitLength_ ? bits : bitLength_; }
  BitCursor Cursor() const { return BitCursor::At(order_, position_); }
  const uint8_t* Data() const { return data_; }
  uint32_t ByteLength() const { return byteLength_; }
  uint32_t BitLengthInBits() const { return bitLength_; }
  uint32_t Order() const { return order_; }

 private:
  bool BitAt(uint32_t pos) const;

  std::vector<uint8_t> owned_;
  const uint8_t* data_;
  uint32_t byteLength_;
  uint32_t bitLength_;
  uint32_t order_;
  uint32_t position_ = 0;
};

inline void BitBuffer::SetOnes(uint32_t first, uint32_t count) {
  uint8_t* p = &data_[first / 8];
  const uint32_t o = first % 8;
  const bool msb = order_ == kMsbFirst;
  if (count <= 64 - o) {
    // Within one 8-byte window (the storage's slack keeps it inside).
    if (msb) {
      const uint64_t mask = (~0ull << (64 - count)) >> o;
      uint64_t w;
      std::memcpy(&w, p, 8);
      w = __builtin_bswap64(__builtin_bswap64(w) | mask);
      std::memcpy(p, &w, 8);
    } else {
      const uint64_t mask = (count == 64 ? ~0ull : (1ull << count) - 1) << o;
      uint64_t w;
      std::memcpy(&w, p, 8);
      w |= mask;
      std::memcpy(p, &w, 8);
    }
    return;
  }
  if (o != 0) {
    const uint32_t k = 8 - o;
    const uint32_t bits = (1u << k) - 1;
    *p++ |= static_cast<uint8_t>(msb ? bits : bits << o);
    count -= k;
  }
  // Word stores: fills of a line or less are the common case, where the
  // string instruction a compiler makes of a fill loop costs more than it
  // saves; the empty asm hides the constant from that rewrite.
  uint64_t one = ~0ull;
  asm("" : "+r"(one));
  const uint64_t ones[4] = {one, one, one, one};
  for (; count >= 256; count -= 256, p += 32) std::memcpy(p, ones, 32);
  for (; count >= 64; count -= 64, p += 8) std::memcpy(p, &one, 8);
  for (; count >= 8; count -= 8) *p++ = 0xFF;
  if (count != 0) {
    const uint32_t bits = (1u << count) - 1;
    *p |= static_cast<uint8_t>(msb ? bits << (8 - count) : bits);
  }
}

// The byte with its bits in reverse order.
uint8_t ReverseBits(uint8_t byte);

}  // namespace korvo
