// One-dimensional modified Huffman coding of fax lines (ITU-T T.4): every line
// begins with an EOL and is a sequence of alternating white and black run
// codes, starting with white.
#pragma once

#include <cstdint>
#include <memory>

#include "common/bits.h"
#include "common/imaging_exceptions.h"

namespace korvo {

inline constexpr uint32_t kFaxLineWidth = 1728;

// Kinds of code table entries.
inline constexpr uint32_t kMakeUpCode = 0;
inline constexpr uint32_t kTerminatingCode = 1;
inline constexpr uint32_t kSpecialCode = 2;

// Runs of the special entries.
inline constexpr uint32_t kFillEolRun = 10000;  // twelve zeros: an EOL preceded by fill
inline constexpr uint32_t kEolRun = 20000;
inline constexpr uint32_t kNoCodeRun = 30000;   // placeholder of tree nodes that hold no code

struct HuffmanCode {
  const char* code;  // "0"/"1" characters
  uint32_t run;
  uint32_t kind;
};

inline constexpr int kCodeTableSize = 104;
// Index 0-63 terminating codes of runs 0-63, 64-90 make-up codes 64-1728,
// 91-103 the extended make-up codes 1792-2560; a make-up run's index is
// 63 + run / 64.
extern const HuffmanCode WhiteCodes[kCodeTableSize];
extern const HuffmanCode BlackCodes[kCodeTableSize];
extern const HuffmanCode FillEolCode;
extern const HuffmanCode EolCode;
extern const HuffmanCode NoCode;

// Codes one line at a time from `source` into `output`.
class HuffmanEncoder {
 public:
  HuffmanEncoder(BitArray& source, BitBuffer& output, uint32_t photometric, uint32_t width);

  // Codes the source line from its current position; HuffmanException 2 when
  // it is empty, 1 when its runs do not add up to the width.
  void EncodeLine();
  // Codes `count` all-white lines (HuffmanException 1 for a width that has no
  // single make-up code).
  void PutBlankLines(uint32_t count);
  // Pads the page to a whole byte.
  void Finish();
  uint16_t LineCount() const { return lineCount_; }

 private:
  void PutEol();
  // Msb-first lines into lsb-first pages, a word at a time; false when the
  // general path must do it.
  bool EncodeLineFast();

  BitArray& source_;
  BitBuffer& output_;
  uint32_t photometric_;
  uint32_t width_;
  uint16_t lineCount_ = 0;
};

// Status of one tree walk.
inline constexpr int kWalkOk = 0;
inline constexpr int kWalkInsideCode = 3;  // data ended inside a code
inline constexpr int kWalkEndOfData = 4;   // data ended at the start of a code
inline constexpr int kWalkInvalid = 5;     // no code has these bits

class HuffmanTree {
 public:
  // The trees of the two colours (0 white, 1 black), built on first use.
  static const HuffmanTree& ForColour(int colour);

  explicit HuffmanTree(const HuffmanCode* table);
  HuffmanTree(const HuffmanTree&) = delete;
  HuffmanTree& operator=(const HuffmanTree&) = delete;
  ~HuffmanTree();

  // Reads one code from `bits`; the entry is set when the status is kWalkOk.
  int Walk(BitArray& bits, const HuffmanCode*& entry) const;

  struct Node {
    const HuffmanCode* entry = &NoCode;
    Node* child[2] = {nullptr, nullptr};
  };
  const Node* Root() const { return root_; }

 private:
  void Add(const HuffmanCode& code);
  static void Free(Node* node);

  Node* root_;
};

// Decodes coded data line by line; bad lines become black after the pixels
// already decoded, and decoding resynchronises at the next EOL.
class HuffmanDecompression {
 public:
  class RecoverableError : public Exception {
   public:
    std::string Text() const override;
  };

  // `output` may be null (counting only). `invert` non-zero writes the first
  // run of every line with colour index 1; `convention` 1 writes white as '1'.
  HuffmanDecompression(BitArray& source, BitBuffer* output, uint32_t invert, uint32_t convention, uint32_t width);

  // Decodes `count` lines, writing `padBits` zero bits after each line.
  void DecodeLines(uint32_t count, uint32_t padBits);
  // Counts the lines of a page; true when it ended with RTC or the data ended.
  bool CountLines(uint16_t& count);

 private:
  struct Reader;
  class LineWriter;
  bool DecodeLine(Reader& r, bool last);
  template <class Writer>
  bool DecodeRuns(Reader& r, bool last, Writer& out);
  int NextCode(Reader& r, int colour, uint32_t& run, uint32_t& kind);
  void SkipToEol(Reader& r, int status);
  void ExpectEol(Reader& r);

  BitArray& source_;
  BitBuffer* output_;
  uint32_t invert_;
  uint32_t convention_;
  uint32_t width_;
};

// Finds the first EOL in received data (least significant bit first).
class EolScanner {
 public:
  // Feeds one byte; true when an EOL ends within it.
  bool Feed(uint8_t byte);
  // True when an EOL begins within the bytes; every byte before the one that
  // completes it is cleared.
  bool FindFirstEol(uint8_t* bytes, uint32_t length);

 private:
  uint32_t zeros_ = 0;
};

// RTC: six EOLs, 72 bits in 9 bytes, least significant bit first.
void InitRtcBits();
void GetRtcBits(const uint8_t*& data, uint32_t& byteLength);
void FreeRtcBits();

}  // namespace korvo
