#include "common/huffman.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <mutex>
#include <optional>

namespace korvo {

namespace {

uint32_t CodeValue(const char* code, unsigned& length) {
  uint32_t v = 0;
  length = 0;
  for (const char* p = code; *p; ++p, ++length) v = (v << 1) | (*p == '1');
  return v;
}

// The codes of both tables as words arranged for one output bit order.
struct CodeWords {
  uint32_t word[2][kCodeTableSize];
  uint8_t length[2][kCodeTableSize];
  uint32_t eol;

  explicit CodeWords(uint32_t order) {
    const HuffmanCode* tables[2] = {WhiteCodes, BlackCodes};
    for (int c = 0; c < 2; ++c)
      for (int i = 0; i < kCodeTableSize; ++i) {
        unsigned len = 0;
        const uint32_t v = CodeValue(tables[c][i].code, len);
        word[c][i] = BitBuffer::Arrange(v, len, order);
        length[c][i] = static_cast<uint8_t>(len);
      }
    unsigned len = 0;
    const uint32_t v = CodeValue(EolCode.code, len);
    eol = BitBuffer::Arrange(v, len, order);
  }

  static const CodeWords& For(uint32_t order) {
    static const CodeWords msb(kMsbFirst), lsb(kLsbFirst);
    return order == kMsbFirst ? msb : lsb;
  }
};

constexpr int kMaxMakeUpIndex = kCodeTableSize - 1;

}  // namespace

// --- HuffmanEncoder

HuffmanEncoder::HuffmanEncoder(BitArray& source, BitBuffer& output, uint32_t photometric, uint32_t width)
    : source_(source), output_(output), photometric_(photometric), width_(width) {}

void HuffmanEncoder::PutEol() {
  output_.FillForEol('0');
  output_.PutWord(CodeWords::For(output_.Order()).eol, 12);
}

namespace {

// Codes least significant bit first through a 64-bit accumulator, four bytes
// at a time, into room the buffer has already reserved.
class LsbWriter {
 public:
  LsbWriter(uint8_t* data, uint32_t bitCount)
      : p_(data + bitCount / 8), acc_(*p_), bits_(bitCount % 8), start_(bitCount - bitCount % 8) {}
  void Put(uint32_t word, unsigned length) {
    acc_ |= static_cast<uint64_t>(word) << bits_;
    bits_ += length;
    if (bits_ >= 32) {
      const uint32_t low = static_cast<uint32_t>(acc_);
      std::memcpy(p_, &low, 4);
      p_ += 4;
      acc_ >>= 32;
      bits_ -= 32;
      written_ += 32;
    }
  }
  // Stores the rest; gives the new bit count.
  uint32_t Flush() {
    std::memcpy(p_, &acc_, 8);  // within the reserved room and the slack
    return start_ + written_ + bits_;
  }

 private:
  uint8_t* p_;
  uint64_t acc_;
  unsigned bits_;
  uint32_t start_;
  uint32_t written_ = 0;
};

// Length of the run of `one` bits from `pos` in msb-first data, a word at a
// time; never reads past `byteLength`.
uint32_t MsbRun(const uint8_t* data, uint32_t byteLength, uint32_t bitLength, uint32_t pos, bool one) {
  const uint32_t from = pos;
  const uint64_t same = one ? ~0ull : 0;
  while (pos < bitLength) {
    const uint32_t i = pos / 8, o = pos % 8;
    uint64_t w = 0;
    if (o == 0) {
      // Whole words of the run's colour.
      const uint32_t words = std::min((byteLength - i) / 8, (bitLength - pos) / 64);
      uint32_t k = 0;
      for (; k < words; ++k) {
        std::memcpy(&w, data + i + 8 * k, 8);
        if (w != same) break;
      }
      if (k != 0) {
        pos += 64 * k;
        continue;
      }
      w = 0;
    }
    if (i + 8 <= byteLength) {
      std::memcpy(&w, data + i, 8);
      w = __builtin_bswap64(w);
    } else {
      for (uint32_t k = 0; i + k < byteLength; ++k) w |= static_cast<uint64_t>(data[i + k]) << (56 - 8 * k);
    }
    w <<= o;
    const uint64_t x = one ? ~w : w;
    const uint32_t valid = std::min<uint32_t>(64 - o, bitLength - pos);
    const uint32_t n = x == 0 ? 64 : static_cast<uint32_t>(std::countl_zero(x));
    if (n < valid) return pos + n - from;
    pos += valid;
  }
  return pos - from;
}

}  // namespace

bool HuffmanEncoder::EncodeLineFast() {
  const uint32_t bitLength = source_.BitLengthInBits();
  uint32_t pos = source_.Position();
  // Room for the worst line: fill, EOL, white 0, then at most 25 bits a pixel.
  if (source_.Order() != kMsbFirst || output_.Order() == kMsbFirst ||
      !output_.Reserve(19 + 8 + 25ull * (bitLength - pos)))
    return false;
  const CodeWords& codes = CodeWords::For(kLsbFirst);
  ++lineCount_;
  output_.FillForEol('0');
  LsbWriter out(output_.data_.get(), output_.bitCount_);
  out.Put(codes.eol, 12);
  const uint8_t* data = source_.Data();
  const uint32_t byteLength = source_.ByteLength();
  uint32_t error = 0;
  if (pos >= bitLength) {
    error = kHuffmanEmptyLine;
  } else {
    // Photometric 0: 1 bits are black.
    const bool oneIsBlack = photometric_ == 0;
    bool one = (data[pos / 8] >> (7 - pos % 8)) & 1;
    if (one == oneIsBlack) out.Put(codes.word[0][0], codes.length[0][0]);
    while (pos < bitLength) {
      const uint32_t run = MsbRun(data, byteLength, bitLength, pos, one);
      const int colour = one == oneIsBlack ? 1 : 0;
      if (run >= 64) {
        const uint32_t index = 63 + run / 64;
        if (index > kMaxMakeUpIndex) {
          // No single make-up code is that long; the line cannot have this width.
          pos += std::min<uint32_t>(run, 0xFFFF);
          error = kHuffmanBadWidth;
          break;
        }
        out.Put(codes.word[colour][index], codes.length[colour][index]);
      }
      out.Put(codes.word[colour][run % 64], codes.length[colour][run % 64]);
      pos += run;
      one = !one;
    }
  }
  output_.bitCount_ = out.Flush();
  source_.SetPosition(pos);
  if (error == 0 && pos != width_) error = kHuffmanBadWidth;
  if (error != 0) throw new HuffmanException(error);
  return true;
}

void HuffmanEncoder::EncodeLine() {
  if (EncodeLineFast()) return;
  const CodeWords& codes = CodeWords::For(output_.Order());
  ++lineCount_;
  PutEol();
  char bit;
  if (!source_.PeekBit(bit)) throw new HuffmanException(kHuffmanEmptyLine);
  const bool oneIsBlack = photometric_ == 0;
  if ((bit == '1') == oneIsBlack) output_.PutWord(codes.word[0][0], codes.length[0][0]);
  uint16_t run;
  while (source_.NextRun(bit, run)) {
    const int colour = (bit == '1') == oneIsBlack ? 1 : 0;
    if (run >= 64) {
      const int index = 63 + run / 64;
      // No single make-up code is that long; the line cannot have this width.
      if (index > kMaxMakeUpIndex) throw new HuffmanException(kHuffmanBadWidth);
      output_.PutWord(codes.word[colour][index], codes.length[colour][index]);
    }
    output_.PutWord(codes.word[colour][run % 64], codes.length[colour][run % 64]);
  }
  if (source_.Position() != width_) throw new HuffmanException(kHuffmanBadWidth);
}

void HuffmanEncoder::PutBlankLines(uint32_t count) {
  const CodeWords& codes = CodeWords::For(output_.Order());
  const uint32_t makeUp = 63 + width_ / 64;
  if (width_ < 64 || makeUp > kMaxMakeUpIndex) throw new HuffmanException(kHuffmanBadWidth);
  const uint32_t term = width_ % 64;
  lineCount_ = static_cast<uint16_t>(lineCount_ + count);
  for (uint32_t i = 0; i < count; ++i) {
    PutEol();
    output_.PutWord(codes.word[0][makeUp], codes.length[0][makeUp]);
    output_.PutWord(codes.word[0][term], codes.length[0][term]);
  }
}

void HuffmanEncoder::Finish() { output_.PadToByte('0'); }

// --- HuffmanTree

HuffmanTree::HuffmanTree(const HuffmanCode* table) : root_(new Node) {
  for (int i = 0; i < kCodeTableSize; ++i) Add(table[i]);
  Add(FillEolCode);
  Add(EolCode);
}

HuffmanTree::~HuffmanTree() { Free(root_); }

void HuffmanTree::Free(Node* node) {
  if (!node) return;
  Free(node->child[0]);
  Free(node->child[1]);
  delete node;
}

void HuffmanTree::Add(const HuffmanCode& code) {
  Node* node = root_;
  for (const char* p = code.code; *p; ++p) {
    Node*& next = node->child[*p == '1'];
    if (!next) next = new Node;
    node = next;
  }
  node->entry = &code;
}

const HuffmanTree& HuffmanTree::ForColour(int colour) {
  static const HuffmanTree white(WhiteCodes), black(BlackCodes);
  return colour == 0 ? white : black;
}

int HuffmanTree::Walk(BitArray& bits, const HuffmanCode*& entry) const {
  const Node* node = root_;
  for (;;) {
    if (!node->child[0] && !node->child[1]) {
      entry = node->entry;
      return kWalkOk;
    }
    char bit;
    if (!bits.GetBit(bit)) return node == root_ ? kWalkEndOfData : kWalkInsideCode;
    node = node->child[bit == '1'];
    if (!node) return kWalkInvalid;
  }
}

// --- HuffmanDecompression

namespace {

// Every code is at most 13 bits long, so 13 bits always end a walk of the
// tree: at a code, or at a bit that leads nowhere.
constexpr unsigned kLookupBits = 13;
constexpr uint32_t kLookupSize = 1u << kLookupBits;
// The first level: every run code of a line but the longest black ones ends
// within 9 bits, and its tables of both colours (4 KiB) stay in the L1 cache.
constexpr unsigned kShortBits = 9;
constexpr uint32_t kShortSize = 1u << kShortBits;

enum : uint8_t { kLookTerminating, kLookMakeUp, kLookEol, kLookFillEol, kLookInvalid, kLookLonger };

struct Lookup {
  uint16_t run;
  uint8_t length;  // bits the walk reads
  uint8_t type;
};

// Walk results of every 13-bit pattern, made from the trees, indexed with
// the first bit as bit 0; and of every 9-bit pattern, where kLookLonger
// sends the walk on to the 13-bit table.
struct LookupTables {
  Lookup lsb[2][kLookupSize];
  Lookup shortLsb[2][kShortSize];

  LookupTables() {
    for (int c = 0; c < 2; ++c) {
      const HuffmanTree::Node* root = HuffmanTree::ForColour(c).Root();
      for (uint32_t i = 0; i < kLookupSize; ++i) {
        const HuffmanTree::Node* node = root;
        unsigned depth = 0;
        Lookup l{0, 0, kLookInvalid};
        while (node->child[0] || node->child[1]) {
          const unsigned bit = (i >> (kLookupBits - 1 - depth)) & 1;
          ++depth;
          node = node->child[bit];
          if (!node) break;
        }
        l.length = static_cast<uint8_t>(depth);
        if (node) {
          const HuffmanCode* e = node->entry;
          l.run = static_cast<uint16_t>(e->kind == kSpecialCode ? 0 : e->run);
          l.type = e == &EolCode ? kLookEol
                   : e == &FillEolCode ? kLookFillEol
                   : e->kind == kTerminatingCode ? kLookTerminating
                                                 : kLookMakeUp;
        }
        uint32_t r = 0;
        for (unsigned b = 0; b < kLookupBits; ++b)
          if (i & (1u << b)) r |= 1u << (kLookupBits - 1 - b);
        lsb[c][r] = l;
      }
      for (uint32_t i = 0; i < kShortSize; ++i) {
        shortLsb[c][i] = lsb[c][i];
        if (lsb[c][i].length > kShortBits) shortLsb[c][i] = Lookup{0, 0, kLookLonger};
      }
    }
  }

  static const LookupTables& Get() {
    static const LookupTables tables;
    return tables;
  }
};

}  // namespace

// The coded data through a 64-bit accumulator, first bit at bit 0 whatever
// the data's bit order.
struct HuffmanDecompression::Reader {
  const uint8_t* data;
  uint32_t byteLength;
  uint32_t bitLength;
  bool msb;
  uint32_t pos;       // bits consumed
  uint32_t next;      // next byte to load
  uint64_t acc = 0;   // loaded, unconsumed bits
  uint32_t accBits = 0;
  const LookupTables* tables = &LookupTables::Get();

  explicit Reader(const BitArray& a)
      : data(a.Data()),
        byteLength(a.ByteLength()),
        bitLength(a.BitLengthInBits()),
        msb(a.Order() == kMsbFirst),
        pos(a.Position()),
        next(a.Position() / 8) {
    if (pos % 8 != 0 && next < byteLength) {
      acc = Byte(next++) >> (pos % 8);
      accBits = 8 - pos % 8;
    }
  }

  uint64_t Byte(uint32_t i) const { return msb ? ReverseBits(data[i]) : data[i]; }

  static uint64_t ReverseEachByte(uint64_t w) {
    w = ((w >> 1) & 0x5555555555555555ull) | ((w & 0x5555555555555555ull) << 1);
    w = ((w >> 2) & 0x3333333333333333ull) | ((w & 0x3333333333333333ull) << 2);
    return ((w >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((w & 0x0F0F0F0F0F0F0F0Full) << 4);
  }

  void Refill() {
    if (next + 8 <= byteLength) {
      uint64_t w;
      std::memcpy(&w, data + next, 8);
      if (msb) w = ReverseEachByte(w);
      acc |= w << accBits;
      const uint32_t take = (63 - accBits) / 8;
      next += take;
      accBits += take * 8;
      return;
    }
    while (accBits <= 56 && next < byteLength) {
      acc |= Byte(next++) << accBits;
      accBits += 8;
    }
  }

  // The next 13 bits (zeros past the end).
  uint32_t Peek() {
    if (accBits < kLookupBits) Refill();
    return static_cast<uint32_t>(acc) & (kLookupSize - 1);
  }

  void Consume(uint32_t n) {
    acc >>= n;
    accBits -= n;
    pos += n;
  }

  void ToEnd() {
    pos = bitLength;
    next = byteLength;
    acc = 0;
    accBits = 0;
  }

  // Reads up to and including the next 1 bit; false (at the end) when there is none.
  __attribute__((always_inline)) bool SkipPastOne() {
    for (;;) {
      if (accBits == 0) {
        Refill();
        if (accBits == 0) break;
      }
      if (acc != 0) {
        const uint32_t k = static_cast<uint32_t>(std::countr_zero(acc));
        if (k < accBits) {
          if (k >= bitLength - pos) break;
          Consume(k + 1);
          return true;
        }
      }
      if (accBits >= bitLength - pos) break;
      Consume(accBits);
    }
    ToEnd();
    return false;
  }
};

std::string HuffmanDecompression::RecoverableError::Text() const {
  return "Error in Huffman compression / decompression";
}

HuffmanDecompression::HuffmanDecompression(BitArray& source, BitBuffer* output, uint32_t invert, uint32_t convention,
                                           uint32_t width)
    : source_(source), output_(output), invert_(invert), convention_(convention), width_(width) {}

#define KORVO_HOT __attribute__((always_inline)) inline

KORVO_HOT int HuffmanDecompression::NextCode(Reader& r, int colour, uint32_t& run, uint32_t& kind) {
  const uint32_t remaining = r.bitLength - r.pos;
  if (remaining == 0) return kWalkEndOfData;
  const uint32_t bits = r.Peek();
  Lookup l = r.tables->shortLsb[colour][bits & (kShortSize - 1)];
  if (l.type == kLookLonger) [[unlikely]]
    l = r.tables->lsb[colour][bits];
  if (l.length > remaining) {
    r.ToEnd();
    return kWalkInsideCode;
  }
  r.Consume(l.length);
  switch (l.type) {
    case kLookInvalid:
      return kWalkInvalid;
    case kLookFillEol:
      // Any number of fill zeros may come before the 1 of the EOL.
      if (!r.SkipPastOne()) return kWalkInsideCode;
      run = kEolRun;
      kind = kSpecialCode;
      return kWalkOk;
    case kLookEol:
      run = kEolRun;
      kind = kSpecialCode;
      return kWalkOk;
    default:
      run = l.run;
      kind = l.type == kLookTerminating ? kTerminatingCode : kMakeUpCode;
      return kWalkOk;
  }
}

KORVO_HOT void HuffmanDecompression::SkipToEol(Reader& r, int status) {
  if (status == kWalkInsideCode || status == kWalkEndOfData) return;
  for (;;) {
    uint32_t run, kind;
    status = NextCode(r, 0, run, kind);
    if (status == kWalkOk && run == kEolRun) return;
    if (status == kWalkInsideCode || status == kWalkEndOfData) return;
  }
}

KORVO_HOT void HuffmanDecompression::ExpectEol(Reader& r) {
  // An EOL is 11 or more zeros (fill included) and a 1: far from the end of
  // the data, one count of the zeros reads it.
  if (r.bitLength - r.pos >= 64) [[likely]] {
    if (r.accBits < 32) r.Refill();
    const uint32_t zeros = r.acc == 0 ? 64 : static_cast<uint32_t>(std::countr_zero(r.acc));
    if (zeros >= 11 && zeros < r.accBits) {
      r.Consume(zeros + 1);
      return;
    }
  }
  uint32_t run, kind;
  const int status = NextCode(r, 0, run, kind);
  if (status != kWalkOk || run != kEolRun) SkipToEol(r, status);
}

// Writes one line's runs into room the buffer has made, through a 64-bit
// accumulator that holds the first bit at bit 0 (msb-first buffers get each
// byte reversed as it is stored): every byte is stored once, whole words at
// a time, with no zeroing before and no merging of runs into what is there.
class HuffmanDecompression::LineWriter {
 public:
  explicit LineWriter(BitBuffer& b)
      : buffer_(b), base_(b.data_.get()), p_(base_ + b.bitCount_ / 8), msb_(b.order_ == kMsbFirst), n_(b.bitCount_ % 8) {
    // The bits after the count in its last byte are zero.
    if (n_ != 0) acc_ = msb_ ? ReverseBits(*p_) : *p_;
  }

  KORVO_HOT void Put(bool one, uint32_t count) {
    const unsigned take = std::min<uint32_t>(count, 64 - n_);
    const uint64_t same = 0 - static_cast<uint64_t>(one);
    // take is 1-64: 2 << (take - 1) wraps to 0 at 64.
    acc_ |= (((2ull << (take - 1)) - 1) << n_) & same;
    n_ += take;
    if (n_ < 64) return;
    count -= take;
    uint8_t* p = p_;
    Store(p, acc_);
    p += 8;
    if (count >= 64) {
      const uint32_t bytes = count / 64 * 8;
      std::memset(p, static_cast<int>(same & 0xFF), bytes);
      p += bytes;
      count %= 64;
    }
    p_ = p;
    acc_ = same & ((1ull << count) - 1);
    n_ = count;
  }

  // Stores the rest with zeros after it and sets the buffer's count.
  void Finish() {
    Store(p_, acc_);  // within the room made and the slack
    const uint64_t at = static_cast<uint64_t>(p_ - base_);
    buffer_.bitCount_ = static_cast<uint32_t>(at * 8 + n_);
    buffer_.zeroed_ = std::max<uint64_t>(buffer_.zeroed_, at + 8);
  }

 private:
  void Store(uint8_t* p, uint64_t w) const {
    if (msb_) w = Reader::ReverseEachByte(w);
    std::memcpy(p, &w, 8);
  }

  BitBuffer& buffer_;
  uint8_t* base_;
  uint8_t* p_;
  bool msb_;
  unsigned n_;
  uint64_t acc_ = 0;
};

namespace {

// Lines whose buffer could not make room (a buffer of fixed size): write
// what fits, then fail at the first bit that does not.
struct BufferWriter {
  BitBuffer& buffer;
  void Put(bool one, uint32_t count) { buffer.PutRepeated(one ? '1' : '0', count); }
};

// Counting only.
struct NoWriter {
  void Put(bool, uint32_t) {}
};

}  // namespace

template <class Writer>
KORVO_HOT bool HuffmanDecompression::DecodeRuns(Reader& r, bool last, Writer& out) {
  // Locals, so that the stores of the line need not read them back.
  const uint32_t width = width_;
  bool one = (invert_ != 0) != (convention_ == 1);  // colour index 0 is white
  const bool black = convention_ != 1;
  int colour = 0;
  uint32_t codes = 0, total = 0;
  for (;;) {
    uint32_t run = 0, kind = 0;
    // Far from the end of the data a run code of the first level needs none
    // of the checks of NextCode.
    if (r.bitLength - r.pos >= 64) [[likely]] {
      if (r.accBits < kShortBits) r.Refill();
      const Lookup l = r.tables->shortLsb[colour][r.acc & (kShortSize - 1)];
      if (l.type <= kLookMakeUp) [[likely]] {
        r.Consume(l.length);
        run = l.run;
        ++codes;
        if (total + run > width) {
          SkipToEol(r, kWalkOk);
          break;
        }
        total += run;
        if (run != 0) out.Put(one, run);
        if (l.type == kLookTerminating) {
          colour ^= 1;
          one = !one;
          if (total == width) {
            if (!last) ExpectEol(r);
            return codes == 0;
          }
        }
        continue;
      }
    }
    const int status = NextCode(r, colour, run, kind);
    if (status != kWalkOk) {
      SkipToEol(r, status);
      break;
    }
    if (run == kEolRun) break;  // the line ended early or is empty
    ++codes;
    if (total + run > width) {
      SkipToEol(r, kWalkOk);
      break;
    }
    total += run;
    if (run != 0) out.Put(one, run);
    if (kind == kTerminatingCode) {
      colour ^= 1;
      one = !one;
      if (total == width) {
        if (!last) ExpectEol(r);
        return codes == 0;
      }
    }
  }
  // A bad line is black after the pixels already decoded.
  if (width != total) out.Put(black, width - total);
  return codes == 0;
}

KORVO_HOT bool HuffmanDecompression::DecodeLine(Reader& r, bool last) {
  if (!output_) {
    NoWriter none;
    return DecodeRuns(r, last, none);
  }
  // A line writes exactly its width; with room for it, runs go straight in.
  if (!output_->MakeRoom(width_)) {
    BufferWriter buffer{*output_};
    return DecodeRuns(r, last, buffer);
  }
  LineWriter writer(*output_);
  const bool empty = DecodeRuns(r, last, writer);
  writer.Finish();
  return empty;
}

void HuffmanDecompression::DecodeLines(uint32_t count, uint32_t padBits) {
  Reader r(source_);
  try {
    ExpectEol(r);
    for (uint32_t i = 0; i < count; ++i) {
      DecodeLine(r, i + 1 == count);
      if (output_ && padBits > 0) output_->PutRepeated('0', padBits);
    }
  } catch (...) {
    source_.SetPosition(r.pos);
    throw;
  }
  source_.SetPosition(r.pos);
}

bool HuffmanDecompression::CountLines(uint16_t& count) {
  Reader r(source_);
  count = 0;
  bool ended = false;
  ExpectEol(r);
  uint32_t empty = 0, total = 0;
  for (;;) {
    if (DecodeLine(r, false)) {
      // The EOL after the last line is read by that line; the other five of
      // RTC are five empty lines. Past the end of the data every line is empty.
      if (++empty == 5) {
        ended = true;
        break;
      }
      continue;
    }
    total += empty + 1;
    empty = 0;
    if (total > 0xFFFF) break;  // more lines than a page can declare
    count = static_cast<uint16_t>(total);
  }
  source_.SetPosition(r.pos);
  return ended;
}

// --- EolScanner

namespace {
uint32_t HighZeros(uint8_t b) { return static_cast<uint32_t>(std::countl_zero(b)); }
uint32_t LowZeros(uint8_t b) { return b == 0 ? 8 : static_cast<uint32_t>(std::countr_zero(b)); }
}  // namespace

bool EolScanner::Feed(uint8_t byte) {
  if (zeros_ > 10) {
    if (byte != 0) return true;
    return false;  // still counting; already long enough
  }
  if (zeros_ != 0) {
    zeros_ += LowZeros(byte);
    if (zeros_ > 10 && byte != 0) return true;
    if (byte != 0) zeros_ = HighZeros(byte);
    return false;
  }
  zeros_ = HighZeros(byte);
  return false;
}

bool EolScanner::FindFirstEol(uint8_t* bytes, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i) {
    if (Feed(bytes[i])) {
      std::memset(bytes, 0, i);
      return true;
    }
  }
  return false;
}

// --- RTC

namespace {
std::mutex rtcMutex;
std::unique_ptr<BitBuffer> rtcBits;

void MakeRtc() {
  if (rtcBits) return;
  auto bits = std::make_unique<BitBuffer>(9, 0, kLsbFirst);
  for (int i = 0; i < 6; ++i) bits->PutBits(EolCode.code);
  rtcBits = std::move(bits);
}
}  // namespace

void InitRtcBits() {
  std::lock_guard<std::mutex> lock(rtcMutex);
  MakeRtc();
}

void GetRtcBits(const uint8_t*& data, uint32_t& byteLength) {
  std::lock_guard<std::mutex> lock(rtcMutex);
  MakeRtc();
  data = rtcBits->Data();
  byteLength = rtcBits->ByteCount();
}

void FreeRtcBits() {
  std::lock_guard<std::mutex> lock(rtcMutex);
  rtcBits.reset();
}

}  // namespace korvo
