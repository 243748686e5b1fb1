#include "common/huffman.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/common/fax_pages.h"
#include "tests/common/huffman_reference.h"

namespace korvo {
namespace {

using test::BitsOf;

// Pixels as characters, '1' black (photometric 0), packed msb first.
std::vector<uint8_t> Pack(const std::string& pixels) {
  std::vector<uint8_t> bytes((pixels.size() + 7) / 8, 0);
  for (size_t i = 0; i < pixels.size(); ++i)
    if (pixels[i] == '1') bytes[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
  return bytes;
}

// Codes the lines (each `width` pixels) into a page, lsb first, padded.
std::vector<uint8_t> Encode(const std::vector<std::string>& lines, uint32_t width, uint32_t photometric = 0) {
  BitBuffer out(16384, 8192, kLsbFirst);
  BitArray line((width + 7) / 8, kMsbFirst);
  HuffmanEncoder enc(line, out, photometric, width);
  for (const auto& l : lines) {
    const auto packed = Pack(l);
    std::copy(packed.begin(), packed.end(), line.MutableData());
    line.Rewind();
    enc.EncodeLine();
  }
  enc.Finish();
  EXPECT_EQ(enc.LineCount(), lines.size());
  return std::vector<uint8_t>(out.Data(), out.Data() + out.ByteCount());
}

std::string CodedBits(const std::vector<uint8_t>& page) {
  return BitsOf(page.data(), static_cast<uint32_t>(page.size() * 8), kLsbFirst);
}

// Decodes `count` lines; returns the bitmap as characters (white '1').
std::string Decode(const std::vector<uint8_t>& page, uint32_t count, uint32_t width, uint32_t pad = 0,
                   uint32_t order = kLsbFirst, uint32_t invert = 0) {
  BitArray src(page.data(), BitLength::FromBytes(static_cast<uint32_t>(page.size())), order);
  BitBuffer out(1, 64, kMsbFirst);
  HuffmanDecompression dec(src, &out, invert, 1, width);
  dec.DecodeLines(count, pad);
  return BitsOf(out.Data(), out.BitCount(), kMsbFirst);
}

std::string WhiteIsOne(const std::string& pixels) {
  std::string s = pixels;
  for (char& c : s) c = c == '1' ? '0' : '1';
  return s;
}

std::vector<uint8_t> BitsToBytes(const std::string& bits) {
  BitBuffer b(1, 16, kLsbFirst);
  b.PutBits(bits);
  return std::vector<uint8_t>(b.Data(), b.Data() + b.ByteCount());
}

const std::string kEol = "000000000001";
const std::string kWhite1728 = "010011011" + std::string("00110101");  // make-up 1728, terminating 0

// A text-like line: short black runs on white.
std::string TextLine(std::mt19937& rng, uint32_t width) {
  std::string s;
  while (s.size() < width) {
    s.append(1 + rng() % 30, '0');
    s.append(1 + rng() % 6, '1');
  }
  s.resize(width);
  return s;
}

TEST(CodeTables, EveryCodeWalksToItsOwnEntry) {
  for (int colour = 0; colour < 2; ++colour) {
    const HuffmanCode* table = colour == 0 ? WhiteCodes : BlackCodes;
    for (int i = 0; i < kCodeTableSize; ++i) {
      const uint32_t expectedRun = i < 64 ? i : (i - 63) * 64;
      EXPECT_EQ(table[i].run, expectedRun) << colour << " " << i;
      EXPECT_EQ(table[i].kind, i < 64 ? kTerminatingCode : kMakeUpCode);
      const auto bytes = BitsToBytes(table[i].code);
      BitArray a(bytes.data(), BitLength::FromBits(static_cast<uint32_t>(std::string(table[i].code).size())),
                 kLsbFirst);
      const HuffmanCode* e = nullptr;
      ASSERT_EQ(HuffmanTree::ForColour(colour).Walk(a, e), kWalkOk) << table[i].code;
      EXPECT_EQ(e, &table[i]) << colour << " " << i;
    }
  }
  for (int i = 91; i < kCodeTableSize; ++i) EXPECT_STREQ(WhiteCodes[i].code, BlackCodes[i].code);
}

TEST(CodeTables, WalkReportsEndAndInvalidCodes) {
  const HuffmanCode* e = nullptr;
  BitArray empty(nullptr, BitLength{}, kLsbFirst);
  EXPECT_EQ(HuffmanTree::ForColour(0).Walk(empty, e), kWalkEndOfData);
  const auto zeros = BitsToBytes("0000000");
  BitArray partial(zeros.data(), BitLength::FromBits(7), kLsbFirst);
  EXPECT_EQ(HuffmanTree::ForColour(0).Walk(partial, e), kWalkInsideCode);
  // No white code begins 0000000 then 0111... past the fill prefix? "00000000001" is
  // only the start of an EOL; "0000000001" followed by 0 leads nowhere in black.
  const auto bad = BitsToBytes("000000000010");
  BitArray invalid(bad.data(), BitLength::FromBits(12), kLsbFirst);
  EXPECT_EQ(HuffmanTree::ForColour(1).Walk(invalid, e), kWalkInvalid);
}

TEST(HuffmanEncoder, AllWhiteLineIsFillEolMakeUpAndTerminating) {
  const auto page = Encode({std::string(1728, '0'), std::string(1728, '0')}, 1728);
  const std::string line1 = "0000" + kEol + kWhite1728;  // 33 bits
  const std::string line2 = "000" + kEol + kWhite1728;   // fill to end the EOL at bit 48
  std::string expected = line1 + line2;
  expected.append(8 - expected.size() % 8, '0');
  EXPECT_EQ(CodedBits(page), expected);
  EXPECT_EQ((line1.size() + 3 + 12) % 8, 0u);

  // PutBlankLines writes the same bits.
  BitBuffer out(64, 64, kLsbFirst);
  BitArray none(nullptr, BitLength{}, kMsbFirst);
  HuffmanEncoder enc(none, out, 0, 1728);
  enc.PutBlankLines(2);
  enc.Finish();
  EXPECT_EQ(enc.LineCount(), 2);
  EXPECT_EQ(std::vector<uint8_t>(out.Data(), out.Data() + out.ByteCount()), page);
}

TEST(HuffmanEncoder, CodesRunsOfEachKind) {
  struct Case {
    const char* name;
    std::string pixels;
    uint32_t photometric;
    std::string codes;  // after fill and EOL
  };
  const std::string black1728 = "0000001100101" + std::string("0000110111");
  const std::vector<Case> cases = {
      {"starts black", "1" + std::string(1727, '0'), 0,
       "00110101" + std::string("010") + "011000" + "00110100"},  // white 0, black 1, white 1664 + 63
      {"all black", std::string(1728, '1'), 0, "00110101" + black1728},
      {"photometric 1 swaps colours", std::string(1728, '1'), 1, kWhite1728},
      {"2560 white", std::string(2560, '0'), 0, "000000011111" + std::string("00110101")},
      {"2560 black", std::string(2560, '1'), 0, "00110101" + std::string("000000011111") + "0000110111"},
      {"make-up plus terminating", std::string(100, '0') + std::string(1628, '1'), 0,
       "11011" + std::string("00010101") + "0000001011011" + "000011001100"},
  };
  for (const auto& c : cases) {
    const auto width = static_cast<uint32_t>(c.pixels.size());
    const auto page = Encode({c.pixels}, width, c.photometric);
    std::string expected = "0000" + kEol + c.codes;
    if (expected.size() % 8) expected.append(8 - expected.size() % 8, '0');
    EXPECT_EQ(CodedBits(page), expected) << c.name;
  }
}

TEST(HuffmanEncoder, RefusesLinesThatCannotBeCoded) {
  struct Case {
    const char* name;
    uint32_t width;
    uint32_t lineBytes;
    uint32_t code;
  };
  const std::vector<Case> cases = {
      {"empty line", 1728, 0, kHuffmanEmptyLine},
      {"line longer than the width", 1728, 232, kHuffmanBadWidth},
      {"line shorter than the width", 1728, 200, kHuffmanBadWidth},
      {"run too long for one make-up code", 3000, 375, kHuffmanBadWidth},
  };
  for (const auto& c : cases) {
    BitBuffer out(16, 16, kLsbFirst);
    BitArray line(c.lineBytes, kMsbFirst);
    HuffmanEncoder enc(line, out, 0, c.width);
    HuffmanException* caught = nullptr;
    try {
      enc.EncodeLine();
    } catch (HuffmanException* e) {
      caught = e;
    }
    ASSERT_NE(caught, nullptr) << c.name;
    EXPECT_EQ(caught->Code(), c.code) << c.name;
    EXPECT_EQ(caught->Text(), "Error in Huffman compression / decompression");
    delete caught;
  }
  BitBuffer out(16, 16, kLsbFirst);
  BitArray none(nullptr, BitLength{}, kMsbFirst);
  for (uint32_t width : {32u, 2624u, 5000u}) {
    HuffmanEncoder enc(none, out, 0, width);
    HuffmanException* caught = nullptr;
    try {
      enc.PutBlankLines(1);
    } catch (HuffmanException* e) {
      caught = e;
    }
    ASSERT_NE(caught, nullptr) << width;
    delete caught;
  }
}

TEST(HuffmanEncoder, EveryBitOrderCodesTheSameBits) {
  // Msb-first lines into lsb-first pages take the word-at-a-time path; the
  // other orders take the general one. Both must give the same bits.
  std::mt19937 rng(17);
  for (int round = 0; round < 200; ++round) {
    const uint32_t width = round % 3 == 0 ? 2560 : 1728;
    std::string pixels;
    while (pixels.size() < width) pixels.append(rng() % 4 == 0 ? rng() % 900 : 1 + rng() % 12, rng() % 2 ? '1' : '0');
    pixels.resize(width);
    const uint32_t photometric = round % 2;
    const auto msbLine = Pack(pixels);
    std::vector<uint8_t> lsbLine(msbLine);
    for (auto& b : lsbLine) b = ReverseBits(b);
    std::string results[3];
    const struct {
      const std::vector<uint8_t>* line;
      uint32_t lineOrder, pageOrder;
    } ways[3] = {{&msbLine, kMsbFirst, kLsbFirst}, {&lsbLine, kLsbFirst, kLsbFirst}, {&msbLine, kMsbFirst, kMsbFirst}};
    for (int w = 0; w < 3; ++w) {
      BitArray line(ways[w].line->data(), BitLength::FromBits(width), ways[w].lineOrder);
      BitBuffer out(8, 8, ways[w].pageOrder);
      out.PutBits(std::string(round % 8, '1'));  // start inside a byte
      HuffmanEncoder enc(line, out, photometric, width);
      enc.EncodeLine();
      EXPECT_EQ(line.Position(), width);
      results[w] = BitsOf(out.Data(), out.BitCount(), ways[w].pageOrder);
    }
    ASSERT_EQ(results[0], results[1]) << round;
    ASSERT_EQ(results[0], results[2]) << round;
  }
}

TEST(HuffmanDecompression, RoundTripsPagesInBothFillOrdersAndConventions) {
  std::mt19937 rng(11);
  std::vector<std::string> lines;
  for (int i = 0; i < 60; ++i) lines.push_back(TextLine(rng, 1728));
  lines.push_back(std::string(1728, '1'));
  lines.push_back("1" + std::string(1727, '0'));
  const auto page = Encode(lines, 1728);
  std::string expected;
  for (const auto& l : lines) expected += WhiteIsOne(l) + "0000";
  EXPECT_EQ(Decode(page, static_cast<uint32_t>(lines.size()), 1728, 4), expected);

  // The same page with each byte reversed is the msb-first file.
  std::vector<uint8_t> msb(page);
  for (auto& b : msb) b = ReverseBits(b);
  EXPECT_EQ(Decode(msb, static_cast<uint32_t>(lines.size()), 1728, 4, kMsbFirst), expected);

  // Convention 0 writes white as '0'; invert starts every line with colour index 1.
  BitArray src(page.data(), BitLength::FromBytes(static_cast<uint32_t>(page.size())), kLsbFirst);
  BitBuffer out(1, 4096, kLsbFirst);
  HuffmanDecompression dec(src, &out, 1, 0, 1728);
  dec.DecodeLines(1, 0);
  EXPECT_EQ(BitsOf(out.Data(), out.BitCount(), kLsbFirst), WhiteIsOne(lines[0]));
}

TEST(HuffmanDecompression, LongFillBeforeEolIsAccepted) {
  std::mt19937 rng(3);
  const std::string line = TextLine(rng, 1728);
  const std::string body = CodedBits(Encode({line}, 1728)).substr(16);
  for (int zeros : {11, 12, 20, 40}) {
    const auto page = BitsToBytes(std::string(zeros, '0') + "1" + body);
    EXPECT_EQ(Decode(page, 1, 1728), WhiteIsOne(line)) << zeros;
  }
}

TEST(HuffmanDecompression, BadLinesTurnBlackAndDecodingResynchronises) {
  std::mt19937 rng(5);
  const std::string good = TextLine(rng, 1728);
  const std::string goodCodes = CodedBits(Encode({good}, 1728)).substr(16);
  const std::string eol = "0000" + kEol;
  // 1600 white, then black make-up 192: the total passes 1728.
  const std::string overlong = "010011010" + std::string("00110101") + "000011001001";
  const std::string blackAfter = std::string(1600, '0') + std::string(128, '1');
  struct Case {
    const char* name;
    std::string coded;  // one bad line then the good line
    std::string firstLine;
  };
  const std::vector<Case> cases = {
      // Runs exceeding 1728: the pixels up to the last complete code stay.
      {"overlong", eol + overlong + "0011" + eol + goodCodes, blackAfter},
      {"early EOL", eol + "010011010" + "00110101" + eol + goodCodes, blackAfter},
      {"invalid code", eol + "010011010" + "00110101" + "00000000001000" + "1011" + eol + goodCodes, blackAfter},
      {"empty line", eol + eol + goodCodes, std::string(1728, '1')},
  };
  for (const auto& c : cases) {
    const auto page = BitsToBytes(c.coded);
    std::string bitmap = Decode(page, 2, 1728);
    ASSERT_EQ(bitmap.size(), 2 * 1728u) << c.name;
    EXPECT_EQ(bitmap.substr(0, 1728), WhiteIsOne(c.firstLine)) << c.name;
    EXPECT_EQ(bitmap.substr(1728), WhiteIsOne(good)) << c.name;
  }
  // Past the end of the data every line is black.
  const auto page = Encode({good}, 1728);
  const std::string bitmap = Decode(page, 3, 1728);
  EXPECT_EQ(bitmap.substr(1728), std::string(2 * 1728, '0'));
}

TEST(HuffmanDecompression, CountLinesWithAndWithoutRtc) {
  std::mt19937 rng(9);
  std::vector<std::string> lines;
  for (int i = 0; i < 25; ++i) lines.push_back(i % 7 == 3 ? std::string(1728, '0') : TextLine(rng, 1728));
  const auto page = Encode(lines, 1728);
  const uint8_t* rtc;
  uint32_t rtcLen;
  GetRtcBits(rtc, rtcLen);
  std::vector<uint8_t> withRtc = page;
  withRtc.insert(withRtc.end(), rtc, rtc + rtcLen);
  std::vector<uint8_t> withTrailer = withRtc;
  withTrailer.insert(withTrailer.end(), {0x12, 0x34, 0x56});
  for (const std::vector<uint8_t>* data : {&page, static_cast<const std::vector<uint8_t>*>(&withRtc), static_cast<const std::vector<uint8_t>*>(&withTrailer)}) {
    BitArray src(data->data(), BitLength::FromBytes(static_cast<uint32_t>(data->size())), kLsbFirst);
    HuffmanDecompression dec(src, nullptr, 0, 0, 1728);
    uint16_t count = 0;
    EXPECT_TRUE(dec.CountLines(count));
    EXPECT_EQ(count, 25);
    if (data != &page) {
      EXPECT_EQ(src.PositionBytes(), withRtc.size());
    }
  }
}

// Row y of a bitmap (msb first, black 1) as characters.
std::string Row(const std::vector<uint8_t>& bitmap, uint32_t width, uint32_t y) {
  return BitsOf(&bitmap[static_cast<size_t>(y) * ((width + 7) / 8)], width, kMsbFirst);
}

TEST(HuffmanDecompression, MatchesTheTreeWalkOnDamagedData) {
  // Pages of every kind (text, dithered and halftone rows, solid lines) with
  // random bit errors, cut short, or pure noise: the table-driven decoder
  // must give exactly the bitmap and position of the plain walk, into
  // buffers of either bit order.
  std::mt19937 rng(13);
  const auto dither = test::RandomDitherPage(1728, 8, 2);
  const auto halftone = test::HalftonePage(1728, 64);
  std::vector<std::string> lines;
  for (uint32_t i = 0; i < 40; ++i) {
    switch (i % 5) {
      case 0: lines.push_back(Row(dither, 1728, i % 8)); break;
      case 1: lines.push_back(Row(halftone, 1728, i + 20)); break;
      case 2: lines.push_back(std::string(1728, i % 2 ? '1' : '0')); break;
      default: lines.push_back(TextLine(rng, 1728)); break;
    }
  }
  const auto clean = Encode(lines, 1728);
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> page = clean;
    const int mode = round % 3;
    if (mode == 0) {
      for (int k = 0; k < 1 + round % 9; ++k) page[rng() % page.size()] ^= static_cast<uint8_t>(1 << (rng() % 8));
    } else if (mode == 1) {
      page.resize(rng() % page.size());
    } else {
      page.resize(rng() % 600);
      for (auto& b : page) b = static_cast<uint8_t>(rng() % 3 == 0 ? 0 : rng());
    }
    const uint32_t width = round % 5 == 0 ? 2048 : 1728;
    const uint32_t order = round % 2 ? kLsbFirst : kMsbFirst;
    const uint32_t invert = round % 4 == 1;
    BitArray a(page.data(), BitLength::FromBytes(static_cast<uint32_t>(page.size())), order);
    BitArray b(page.data(), BitLength::FromBytes(static_cast<uint32_t>(page.size())), order);
    const uint32_t outOrder = (round / 3) % 2 ? kLsbFirst : kMsbFirst;
    const uint32_t pad = round % 7;
    BitBuffer out(1, 512, outOrder);
    HuffmanDecompression fast(a, &out, invert, 1, width);
    fast.DecodeLines(45, pad);
    std::string expected;
    test::ReferenceDecoder slow(b, &expected, invert, 1, width);
    slow.DecodeLines(45, pad);
    ASSERT_EQ(BitsOf(out.Data(), out.BitCount(), outOrder), expected) << round;
    ASSERT_EQ(a.Position(), b.Position()) << round;

    a.Rewind();
    b.Rewind();
    uint16_t n1 = 0, n2 = 0;
    HuffmanDecompression counter(a, nullptr, 0, 0, width);
    test::ReferenceDecoder slowCounter(b, nullptr, 0, 0, width);
    ASSERT_EQ(counter.CountLines(n1), slowCounter.CountLines(n2)) << round;
    ASSERT_EQ(n1, n2) << round;
    ASSERT_EQ(a.Position(), b.Position()) << round;
  }
}

TEST(EolScanner, FindsTheFirstEolAndClearsWhatComesBefore) {
  struct Case {
    std::vector<uint8_t> in;
    bool found;
    std::vector<uint8_t> out;
  };
  const std::vector<Case> cases = {
      {{0xA5, 0x00, 0x08}, true, {0x00, 0x00, 0x08}},
      {{0xA5, 0x00, 0x04}, false, {0xA5, 0x00, 0x04}},        // ten zeros only
      {{0xFF, 0x80, 0x00, 0x00, 0x01, 0x77}, true, {0, 0, 0, 0, 0x01, 0x77}},
      {{0x00, 0x00, 0x00}, false, {0x00, 0x00, 0x00}},
      {{0x12, 0x00, 0x10, 0x99}, true, {0x00, 0x00, 0x10, 0x99}},  // 3 + 8 + 4 zeros
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> bytes = c.in;
    EolScanner scanner;
    EXPECT_EQ(scanner.FindFirstEol(bytes.data(), static_cast<uint32_t>(bytes.size())), c.found);
    EXPECT_EQ(bytes, c.out);
  }
}

TEST(RtcBits, SixEolsInNineBytes) {
  InitRtcBits();
  const uint8_t* data = nullptr;
  uint32_t len = 0;
  GetRtcBits(data, len);
  ASSERT_EQ(len, 9u);
  std::string six;
  for (int i = 0; i < 6; ++i) six += kEol;
  EXPECT_EQ(BitsOf(data, 72, kLsbFirst), six);
  FreeRtcBits();
}

}  // namespace
}  // namespace korvo
