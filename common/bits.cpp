#include "common/bits.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "common/imaging_exceptions.h"

namespace korvo {

static_assert(std::endian::native == std::endian::little, "word merges assume a little-endian host");

namespace {


struct ReverseTable {
  uint8_t value[256];
  constexpr ReverseTable() : value() {
    for (int i = 0; i < 256; ++i) {
      uint8_t r = 0;
      for (int b = 0; b < 8; ++b)
        if (i & (1 << b)) r |= static_cast<uint8_t>(0x80 >> b);
      value[i] = r;
    }
  }
};
constexpr ReverseTable kReverse;

uint64_t LoadLe64(const uint8_t* p) {
  uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}
void StoreLe64(uint8_t* p, uint64_t w) { std::memcpy(p, &w, 8); }

}  // namespace

uint8_t ReverseBits(uint8_t byte) { return kReverse.value[byte]; }

// --- BitCursor

BitCursor::BitCursor(uint32_t bitOrder)
    : mask(bitOrder == kMsbFirst ? 0x80 : 0x01), order(bitOrder), startMask(mask) {}

BitCursor BitCursor::At(uint32_t bitOrder, uint32_t bits) {
  BitCursor c(bitOrder);
  c.index = bits / 8;
  c.mask = bitOrder == kMsbFirst ? static_cast<uint8_t>(0x80 >> (bits % 8)) : static_cast<uint8_t>(1 << (bits % 8));
  return c;
}

void BitCursor::Advance() {
  mask = order == kMsbFirst ? static_cast<uint8_t>(mask >> 1) : static_cast<uint8_t>(mask << 1);
  if (mask == 0) {
    ++index;
    mask = startMask;
  }
}

void BitCursor::Reset() {
  index = 0;
  mask = startMask;
}

// --- BitBuffer

BitBuffer::BitBuffer(uint32_t capacity, uint32_t growStep, uint32_t bitOrder)
    : data_(new uint8_t[static_cast<size_t>(capacity) + kSlack]),
      storage_(static_cast<uint64_t>(capacity) + kSlack),
      capacity_(capacity),
      growStep_(growStep),
      order_(bitOrder) {}

bool BitBuffer::Grow(uint64_t bits) {
  const uint64_t need = bitCount_ + bits;
  if (growStep_ == 0) return false;
  uint64_t capacity = capacity_;
  while (capacity * 8 < need) capacity += growStep_;
  // The bit count is 32 bits wide.
  if (capacity * 8 > UINT32_MAX) throw new BitArrayException;
  std::unique_ptr<uint8_t[]> grown(new uint8_t[capacity + kSlack]);
  std::memcpy(grown.get(), data_.get(), zeroed_);
  data_ = std::move(grown);
  capacity_ = static_cast<uint32_t>(capacity);
  storage_ = capacity + kSlack;
  return true;
}

void BitBuffer::PutBit(char bit) {
  if (!Reserve(1)) throw new BitArrayException;
  if (bit == '1') {
    const uint32_t i = bitCount_ / 8, o = bitCount_ % 8;
    data_[i] |= order_ == kMsbFirst ? static_cast<uint8_t>(0x80 >> o) : static_cast<uint8_t>(1 << o);
  }
  ++bitCount_;
}

void BitBuffer::PutBits(std::string_view bits) {
  for (char c : bits) PutBit(c);
}

void BitBuffer::PutRepeated(char bit, uint32_t count) {
  if (!Reserve(count)) {
    // Fixed-size buffer: write what fits, then fail at the first bit that does not.
    for (uint32_t i = 0; i < count; ++i) PutBit(bit);
    return;
  }
  if (bit == '1' && count != 0) SetOnes(bitCount_, count);
  bitCount_ += count;
}

void BitBuffer::FillForEol(char bit) {
  const uint32_t b = bitCount_ % 8;
  PutRepeated(bit, b > 4 ? 12 - b : 4 - b);
}

void BitBuffer::PadToByte(char bit) {
  if (bitCount_ % 8 != 0) PutRepeated(bit, 8 - bitCount_ % 8);
}

uint32_t BitBuffer::Arrange(uint32_t msbFirstCode, unsigned length, uint32_t bitOrder) {
  if (bitOrder == kMsbFirst) return msbFirstCode;
  uint32_t r = 0;
  for (unsigned i = 0; i < length; ++i)
    if (msbFirstCode & (1u << (length - 1 - i))) r |= 1u << i;
  return r;
}

void BitBuffer::PutWord(uint32_t word, unsigned length) {
  if (!Reserve(length)) {
    for (unsigned k = 0; k < length; ++k) {
      const bool one = order_ == kMsbFirst ? (word >> (length - 1 - k)) & 1 : (word >> k) & 1;
      PutBit(one ? '1' : '0');
    }
    return;
  }
  if (length == 0) return;
  // Reserve keeps the byte of the first bit inside the capacity, so the
  // 8-byte window lies within the storage (capacity + slack).
  uint8_t* p = &data_[bitCount_ / 8];
  const unsigned o = bitCount_ % 8;
  if (order_ == kMsbFirst) {
    uint64_t w = __builtin_bswap64(LoadLe64(p));
    w |= (static_cast<uint64_t>(word) << (64 - length)) >> o;
    StoreLe64(p, __builtin_bswap64(w));
  } else {
    StoreLe64(p, LoadLe64(p) | (static_cast<uint64_t>(word) << o));
  }
  bitCount_ += length;
}

void BitBuffer::Clear() {
  data_.reset(new uint8_t[kSlack]);
  storage_ = kSlack;
  zeroed_ = 0;
  capacity_ = 0;
  bitCount_ = 0;
}

// --- BitArray

BitArray::BitArray(uint32_t byteLength, uint32_t bitOrder)
    : owned_(byteLength, 0),
      data_(owned_.data()),
      byteLength_(byteLength),
      bitLength_(BitLength::FromBytes(byteLength).bits),
      order_(bitOrder) {}

BitArray::BitArray(const uint8_t* data, BitLength length, uint32_t bitOrder)
    : data_(data), byteLength_(length.bytes), bitLength_(std::min(length.bits, length.bytes * 8)), order_(bitOrder) {}

void BitArray::ReadFrom(std::FILE* file) {
  if (owned_.empty() && byteLength_ != 0) throw new FileReadingException;
  if (std::fread(owned_.data(), 1, byteLength_, file) != byteLength_) throw new FileReadingException;
  Rewind();
}

bool BitArray::BitAt(uint32_t pos) const {
  const uint8_t byte = data_[pos / 8];
  return order_ == kMsbFirst ? (byte >> (7 - pos % 8)) & 1 : (byte >> (pos % 8)) & 1;
}

bool BitArray::PeekBit(char& bit) const {
  if (position_ >= bitLength_) return false;
  bit = BitAt(position_) ? '1' : '0';
  return true;
}

bool BitArray::GetBit(char& bit) {
  if (!PeekBit(bit)) return false;
  ++position_;
  return true;
}

bool BitArray::GetByte(uint8_t& byte) {
  if (bitLength_ - position_ < 8) return false;
  byte = data_[position_ / 8];
  position_ += 8;
  return true;
}

bool BitArray::NextRun(char& bit, uint16_t& count) {
  if (position_ >= bitLength_) return false;
  const bool one = BitAt(position_);
  bit = one ? '1' : '0';
  const uint32_t limit = std::min<uint32_t>(bitLength_, position_ + 0xFFFF);
  const uint8_t same = one ? 0xFF : 0x00;
  uint32_t pos = position_;
  while (pos < limit) {
    const uint32_t o = pos % 8;
    if (o == 0) {
      // Whole words, then whole bytes, of the run's colour.
      const uint64_t sameWord = one ? ~0ull : 0;
      while (limit - pos >= 64 && LoadLe64(&data_[pos / 8]) == sameWord) pos += 64;
      while (limit - pos >= 8 && data_[pos / 8] == same) pos += 8;
      if (pos >= limit) break;
    }
    // Equal bits within the current byte from the current bit.
    const uint8_t x = static_cast<uint8_t>(data_[pos / 8] ^ same);
    const uint32_t off = pos % 8;
    uint32_t k;
    if (order_ == kMsbFirst) {
      const uint32_t v = static_cast<uint32_t>(static_cast<uint8_t>(x << off));
      k = v == 0 ? 8 - off : static_cast<uint32_t>(std::countl_zero(static_cast<uint8_t>(v)));
    } else {
      const uint32_t v = static_cast<uint32_t>(x >> off);
      k = v == 0 ? 8 - off : static_cast<uint32_t>(std::countr_zero(v));
    }
    k = std::min(k, limit - pos);
    pos += k;
    if (pos % 8 != 0) break;  // the bit changed inside this byte
    if (k == 0) break;
  }
  count = static_cast<uint16_t>(pos - position_);
  position_ = pos;
  return true;
}

}  // namespace korvo
