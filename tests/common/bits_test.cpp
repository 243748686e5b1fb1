#include "common/bits.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "common/imaging_exceptions.h"
#include "tests/common/huffman_reference.h"
#include "tests/support/sandbox.h"

namespace korvo {
namespace {

using test::BitsOf;

std::string Contents(const BitBuffer& b) { return BitsOf(b.Data(), b.BitCount(), b.Order()); }

TEST(BitBuffer, BulkWritesMatchSingleBits) {
  // Random mixes of single bits, runs and words, in both orders, through
  // buffers small enough to grow many times.
  for (uint32_t order : {kMsbFirst, kLsbFirst}) {
    std::mt19937 rng(order);
    BitBuffer buffer(3, 5, order);
    std::string expected;
    for (int step = 0; step < 2000; ++step) {
      switch (rng() % 4) {
        case 0: {
          const char c = rng() % 2 ? '1' : '0';
          buffer.PutBit(c);
          expected += c;
          break;
        }
        case 1: {
          const char c = rng() % 2 ? '1' : '0';
          const uint32_t n = rng() % 3 == 0 ? rng() % 700 : rng() % 70;
          buffer.PutRepeated(c, n);
          expected.append(n, c);
          break;
        }
        case 2: {
          const unsigned len = 1 + rng() % 32;
          const uint32_t code = static_cast<uint32_t>(rng()) & (len == 32 ? ~0u : (1u << len) - 1);
          buffer.PutWord(BitBuffer::Arrange(code, len, order), len);
          for (unsigned i = 0; i < len; ++i) expected += (code >> (len - 1 - i)) & 1 ? '1' : '0';
          break;
        }
        default:
          buffer.FillForEol('0');
          while ((expected.size() + 12) % 8 != 0) expected += '0';
      }
    }
    ASSERT_EQ(Contents(buffer), expected) << "order " << order;
    EXPECT_EQ(buffer.ByteCount(), (expected.size() + 7) / 8);
    EXPECT_GE(buffer.Capacity(), buffer.ByteCount());
  }
}

TEST(BitBuffer, FillForEolEndsTheEolOnAByteBoundary) {
  for (uint32_t start = 0; start < 16; ++start) {
    BitBuffer b(16, 16, kLsbFirst);
    b.PutRepeated('1', start);
    b.FillForEol('0');
    const uint32_t fill = b.BitCount() - start;
    EXPECT_LE(fill, 7u) << start;
    EXPECT_EQ((b.BitCount() + 12) % 8, 0u) << start;
  }
}

TEST(BitBuffer, PadToByte) {
  BitBuffer b(4, 4, kMsbFirst);
  b.PadToByte('1');
  EXPECT_EQ(b.BitCount(), 0u);
  b.PutBits("101");
  b.PadToByte('1');
  EXPECT_EQ(Contents(b), "10111111");
}

TEST(BitBuffer, FixedSizeBufferRefusesToOverflow) {
  // Every kind of write fills the buffer to its last bit, then fails.
  for (int kind = 0; kind < 3; ++kind) {
    BitBuffer b(2, 0, kLsbFirst);
    b.PutRepeated('1', 10);
    BitArrayException* caught = nullptr;
    try {
      if (kind == 0) b.PutRepeated('1', 7);
      else if (kind == 1) b.PutWord(0x7F, 7);
      else b.PutBits("1111111");
    } catch (BitArrayException* e) {
      caught = e;
    }
    ASSERT_NE(caught, nullptr) << kind;
    EXPECT_EQ(caught->Text(), "Bit array: writing data outside of limits");
    delete caught;
    EXPECT_EQ(b.BitCount(), 16u) << kind;
    EXPECT_EQ(b.Data()[1], 0xFF) << kind;
  }
}

TEST(BitBuffer, ClearEmptiesAndStillGrows) {
  BitBuffer b(1, 1, kLsbFirst);
  b.PutRepeated('1', 20);
  b.Clear();
  EXPECT_EQ(b.BitCount(), 0u);
  EXPECT_EQ(b.Capacity(), 0u);
  b.PutBits("01");
  EXPECT_EQ(Contents(b), "01");
}

TEST(BitCursor, AdvancesThroughBytesInBothOrders) {
  for (uint32_t order : {kMsbFirst, kLsbFirst}) {
    BitCursor c(order);
    EXPECT_TRUE(c.AtByteBoundary());
    for (int i = 0; i < 11; ++i) c.Advance();
    const BitCursor at = BitCursor::At(order, 11);
    EXPECT_EQ(c.index, 1u);
    EXPECT_EQ(c.mask, at.mask);
    EXPECT_EQ(c.mask, order == kMsbFirst ? 0x10 : 0x08);
    c.Reset();
    EXPECT_EQ(c.index, 0u);
    EXPECT_TRUE(c.AtByteBoundary());
  }
  EXPECT_EQ(BitLength::FromBits(17).bytes, 3u);
  EXPECT_EQ(BitLength::FromBytes(3).bits, 24u);
}

TEST(BitArray, ReadsBitsBytesAndRuns) {
  const uint8_t data[] = {0xF0, 0x00, 0x00, 0xFF, 0x01};
  for (uint32_t order : {kMsbFirst, kLsbFirst}) {
    BitArray a(data, BitLength::FromBytes(sizeof data), order);
    const std::string bits = BitsOf(data, 40, order);
    // Runs must be exactly the maximal runs of equal bits.
    std::string rebuilt;
    char c;
    uint16_t n;
    while (a.NextRun(c, n)) {
      ASSERT_GT(n, 0);
      if (!rebuilt.empty()) {
        ASSERT_NE(rebuilt.back(), c);
      }
      rebuilt.append(n, c);
    }
    EXPECT_EQ(rebuilt, bits) << order;
    EXPECT_EQ(a.Position(), 40u);
    EXPECT_FALSE(a.PeekBit(c));
    a.Rewind();
    ASSERT_TRUE(a.GetBit(c));
    EXPECT_EQ(c, bits[0]);
    a.Rewind();
    uint8_t byte;
    ASSERT_TRUE(a.GetByte(byte));
    EXPECT_EQ(byte, 0xF0);
    a.SetPosition(33);
    EXPECT_FALSE(a.GetByte(byte));
    EXPECT_EQ(a.PositionBytes(), 5u);
  }
}

TEST(BitArray, RunsOfRandomDataMatchTheBits) {
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    std::vector<uint8_t> data(1 + rng() % 40);
    // Long runs are the interesting case: mostly 0x00 and 0xFF bytes.
    for (auto& b : data) {
      const uint32_t r = rng() % 4;
      b = r == 0 ? 0x00 : r == 1 ? 0xFF : static_cast<uint8_t>(rng());
    }
    const uint32_t bitLen = static_cast<uint32_t>(data.size() * 8 - rng() % 8);
    for (uint32_t order : {kMsbFirst, kLsbFirst}) {
      BitArray a(data.data(), BitLength{static_cast<uint32_t>(data.size()), bitLen}, order);
      std::string rebuilt;
      char c;
      uint16_t n;
      while (a.NextRun(c, n)) rebuilt.append(n, c);
      ASSERT_EQ(rebuilt, BitsOf(data.data(), bitLen, order));
    }
  }
}

TEST(BitArray, LongRunsAreSplitRatherThanWrapped) {
  std::vector<uint8_t> zeros(10000, 0);
  BitArray a(zeros.data(), BitLength::FromBytes(10000), kMsbFirst);
  char c;
  uint16_t n;
  ASSERT_TRUE(a.NextRun(c, n));
  EXPECT_EQ(n, 0xFFFF);
  ASSERT_TRUE(a.NextRun(c, n));
  EXPECT_EQ(n, 80000 - 0xFFFF);
}

TEST(BitArray, OwningArrayReadsExactlyItsLength) {
  test::Sandbox box;
  test::Sandbox::writeFile(box.path("line"), "abc");
  std::FILE* f = std::fopen(box.path("line").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  BitArray a(2, kMsbFirst);
  a.ReadFrom(f);
  EXPECT_EQ(a.Data()[0], 'a');
  BitArray big(4, kMsbFirst);
  std::rewind(f);
  FileReadingException* caught = nullptr;
  try {
    big.ReadFrom(f);
  } catch (FileReadingException* e) {
    caught = e;
  }
  ASSERT_NE(caught, nullptr);
  EXPECT_EQ(caught->Text(), "Error reading file: less bytes than expected");
  delete caught;
  std::fclose(f);
}

}  // namespace
}  // namespace korvo
