#include "common/huffman.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <mutex>

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

void HuffmanEncoder::EncodeLine() {
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

enum : uint8_t { kLookTerminating, kLookMakeUp, kLookEol, kLookFillEol, kLookInvalid };

struct Lookup {
  uint16_t run;
  uint8_t length;  // bits the walk reads
  uint8_t type;
};

// Walk results of every 13-bit pattern, made from the trees, indexed with the
// first bit as bit 12 (msb) or as bit 0 (lsb).
struct LookupTables {
  Lookup msb[2][kLookupSize];
  Lookup lsb[2][kLookupSize];

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
        msb[c][i] = l;
        uint32_t r = 0;
        for (unsigned b = 0; b < kLookupBits; ++b)
          if (i & (1u << b)) r |= 1u << (kLookupBits - 1 - b);
        lsb[c][r] = l;
      }
    }
  }

  static const LookupTables& Get() {
    static const LookupTables tables;
    return tables;
  }
};

}  // namespace

struct HuffmanDecompression::Reader {
  const uint8_t* data;
  uint32_t byteLength;
  uint32_t bitLength;
  bool msb;
  uint32_t pos;
  const Lookup (*table)[kLookupSize];

  explicit Reader(const BitArray& a)
      : data(a.Data()),
        byteLength(a.ByteLength()),
        bitLength(a.BitLengthInBits()),
        msb(a.Order() == kMsbFirst),
        pos(a.Position()),
        table(msb ? LookupTables::Get().msb : LookupTables::Get().lsb) {}

  uint32_t Peek() const {
    const uint32_t i = pos / 8, o = pos % 8;
    uint32_t w = 0;
    if (i + 4 <= byteLength) std::memcpy(&w, data + i, 4);
    else if (i < byteLength) std::memcpy(&w, data + i, byteLength - i);
    if (msb) return (__builtin_bswap32(w) >> (32 - kLookupBits - o)) & (kLookupSize - 1);
    return (w >> o) & (kLookupSize - 1);
  }

  // Position of the next 1 bit, or the bit length when there is none.
  uint32_t FindOne(uint32_t from) const {
    while (from < bitLength) {
      const uint32_t o = from % 8;
      const uint8_t byte = data[from / 8];
      const uint32_t v = msb ? static_cast<uint8_t>(byte << o) : static_cast<uint32_t>(byte >> o);
      if (v != 0) {
        const uint32_t k = msb ? static_cast<uint32_t>(std::countl_zero(static_cast<uint8_t>(v)))
                               : static_cast<uint32_t>(std::countr_zero(v));
        return std::min(from + k, bitLength);
      }
      from += 8 - o;
      while (bitLength - std::min(from, bitLength) >= 64) {
        uint64_t w;
        std::memcpy(&w, data + from / 8, 8);
        if (w != 0) break;
        from += 64;
      }
    }
    return bitLength;
  }
};

std::string HuffmanDecompression::RecoverableError::Text() const {
  return "Error in Huffman compression / decompression";
}

HuffmanDecompression::HuffmanDecompression(BitArray& source, BitBuffer* output, uint32_t invert, uint32_t convention,
                                           uint32_t width)
    : source_(source), output_(output), invert_(invert), convention_(convention), width_(width) {}

HuffmanDecompression::~HuffmanDecompression() = default;

int HuffmanDecompression::NextCode(int colour, uint32_t& run, uint32_t& kind) {
  Reader& r = *reader_;
  const uint32_t remaining = r.bitLength - r.pos;
  if (remaining == 0) return kWalkEndOfData;
  const Lookup l = r.table[colour][r.Peek()];
  if (l.length > remaining) {
    r.pos = r.bitLength;
    return kWalkInsideCode;
  }
  r.pos += l.length;
  switch (l.type) {
    case kLookInvalid:
      return kWalkInvalid;
    case kLookFillEol: {
      // Any number of fill zeros may come before the 1 of the EOL.
      const uint32_t one = r.FindOne(r.pos);
      if (one >= r.bitLength) {
        r.pos = r.bitLength;
        return kWalkInsideCode;
      }
      r.pos = one + 1;
      run = kEolRun;
      kind = kSpecialCode;
      return kWalkOk;
    }
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

void HuffmanDecompression::SkipToEol(int status) {
  if (status == kWalkInsideCode || status == kWalkEndOfData) return;
  for (;;) {
    uint32_t run, kind;
    status = NextCode(0, run, kind);
    if (status == kWalkOk && run == kEolRun) return;
    if (status == kWalkInsideCode || status == kWalkEndOfData) return;
  }
}

void HuffmanDecompression::ExpectEol() {
  uint32_t run, kind;
  const int status = NextCode(0, run, kind);
  if (status != kWalkOk || run != kEolRun) SkipToEol(status);
}

void HuffmanDecompression::Write(int colourIndex, uint32_t count) {
  if (!output_ || count == 0) return;
  const bool white = colourIndex == 0;
  output_->PutRepeated(white == (convention_ == 1) ? '1' : '0', count);
}

bool HuffmanDecompression::DecodeLine(bool last) {
  int colour = 0;
  int index = invert_ != 0 ? 1 : 0;
  uint32_t codes = 0, total = 0, written = 0;
  try {
    for (;;) {
      uint32_t run = 0, kind = 0;
      const int status = NextCode(colour, run, kind);
      if (status != kWalkOk) {
        SkipToEol(status);
        throw new RecoverableError;
      }
      if (run == kEolRun) throw new RecoverableError;  // the line ended early or is empty
      ++codes;
      total += run;
      if (total > width_) {
        SkipToEol(kWalkOk);
        throw new RecoverableError;
      }
      Write(index, run);
      written += run;
      if (kind == kTerminatingCode) {
        colour ^= 1;
        index ^= 1;
        if (total == width_) {
          if (!last) ExpectEol();
          break;
        }
      }
    }
  } catch (RecoverableError* e) {
    delete e;
    Write(1, width_ - written);
  }
  return codes == 0;
}

void HuffmanDecompression::DecodeLines(uint32_t count, uint32_t padBits) {
  reader_ = std::make_unique<Reader>(source_);
  try {
    ExpectEol();
    for (uint32_t i = 0; i < count; ++i) {
      DecodeLine(i + 1 == count);
      if (output_ && padBits > 0) output_->PutRepeated('0', padBits);
    }
  } catch (...) {
    source_.SetPosition(reader_->pos);
    throw;
  }
  source_.SetPosition(reader_->pos);
}

bool HuffmanDecompression::CountLines(uint16_t& count) {
  reader_ = std::make_unique<Reader>(source_);
  count = 0;
  bool ended = false;
  ExpectEol();
  uint32_t empty = 0, total = 0;
  for (;;) {
    if (DecodeLine(false)) {
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
  source_.SetPosition(reader_->pos);
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
