#include "common/archive.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int v : b) s.push_back(static_cast<char>(v));
  return s;
}

TEST(Archive, NumbersAreLittleEndian) {
  Archive ar;
  ar.WriteInt(-2);
  ar.WriteDword(0x01020304);
  ar.WriteWord(0xABCD);
  ar.WriteByte(100);
  EXPECT_EQ(ar.Bytes(), Bytes({0xFE, 0xFF, 0xFF, 0xFF, 0x04, 0x03, 0x02, 0x01, 0xCD, 0xAB, 100}));
  Archive in(ar.Bytes());
  EXPECT_EQ(in.ReadInt(), -2);
  EXPECT_EQ(in.ReadDword(), 0x01020304u);
  EXPECT_EQ(in.ReadWord(), 0xABCD);
  EXPECT_EQ(in.ReadByte(), 100);
  EXPECT_THROW(in.ReadByte(), ArchiveException);
}

struct StringCase {
  std::size_t length;
  std::string prefix;
};

TEST(Archive, StringLengthPrefixes) {
  const StringCase cases[] = {
      {0, Bytes({0})},
      {3, Bytes({3})},
      {254, Bytes({0xFE})},
      {255, Bytes({0xFF, 0xFF, 0x00})},
      {0xFFFD, Bytes({0xFF, 0xFD, 0xFF})},
      {0xFFFE, Bytes({0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00})},
      {0x10000, Bytes({0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00})},
  };
  for (const auto& c : cases) {
    const std::string text(c.length, 'x');
    Archive ar;
    ar.WriteString(text);
    ASSERT_EQ(ar.Bytes().size(), c.prefix.size() + c.length) << c.length;
    EXPECT_EQ(ar.Bytes().substr(0, c.prefix.size()), c.prefix) << c.length;
    Archive in(ar.Bytes());
    EXPECT_EQ(in.ReadString(), text);
    EXPECT_EQ(in.Remaining(), 0u);
  }
}

TEST(Archive, CountPrefixes) {
  const std::pair<uint32_t, std::string> cases[] = {
      {0, Bytes({0, 0})},
      {0xFFFE, Bytes({0xFE, 0xFF})},
      {0xFFFF, Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0, 0})},
      {0x12345678, Bytes({0xFF, 0xFF, 0x78, 0x56, 0x34, 0x12})},
  };
  for (const auto& [count, bytes] : cases) {
    Archive ar;
    ar.WriteCount(count);
    EXPECT_EQ(ar.Bytes(), bytes);
    Archive in(bytes);
    EXPECT_EQ(in.ReadCount(), count);
  }
}

TEST(Archive, DamagedStringLengthThrowsWithoutAllocating) {
  const std::string cases[] = {
      Bytes({5, 'a', 'b'}),
      Bytes({0xFF, 0x10}),
      Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 'a'}),  // claims 4 GB
      Bytes({}),
  };
  for (const auto& bytes : cases) {
    Archive in(bytes);
    EXPECT_THROW(in.ReadString(), ArchiveException);
  }
}

}  // namespace
}  // namespace korvo
