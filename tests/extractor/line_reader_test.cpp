#include "extractor/line_reader.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/sandbox.h"

namespace korvo::numsnip {
namespace {

std::vector<std::string> Lines(const std::string& data, size_t bufferSize = 64 * 1024) {
  std::istringstream in(data);
  LineReader reader(in, bufferSize);
  std::vector<std::string> lines;
  std::string line;
  while (reader.Next(line)) lines.push_back(line);
  EXPECT_FALSE(reader.failed());
  return lines;
}

using V = std::vector<std::string>;

TEST(LineReader, EndsLinesAtCrLfLfAndALoneCr) {
  struct Case {
    std::string data;
    V lines;
  } cases[] = {
      {"", {}},
      {"\r\n", {""}},
      {"\n", {""}},
      {"\r", {""}},
      {"a", {"a"}},
      {"a\r\n\r\nb", {"a", "", "b"}},
      {"a\nb\rc\r\nd", {"a", "b", "c", "d"}},
      {"a\r\rb", {"a", "", "b"}},
      {"a\n\r", {"a", ""}},
      {"a\n\n", {"a", ""}},
      {"a\r\n", {"a"}},
      {std::string("n\0l\x1a\xff\xc3\n", 7) + "é", {std::string("n\0l\x1a\xff\xc3", 6), "é"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.data));
    EXPECT_EQ(Lines(c.data), c.lines);
    // The same through the smallest buffers, so every end falls on a boundary.
    for (size_t size : {1, 2, 3}) EXPECT_EQ(Lines(c.data, size), c.lines) << "buffer " << size;
  }
}

TEST(LineReader, CrLfSplitAcrossTheBufferIsOneLineEnd) {
  // The CR is the buffer's last byte at every offset in turn.
  for (size_t size = 1; size <= 9; ++size) {
    std::string first(size - 1, 'x');
    EXPECT_EQ(Lines(first + "\r\nnext\r\n", size), (V{first, "next"})) << "buffer " << size;
  }
}

TEST(LineReader, KeepsATenMegabyteLineWhole) {
  std::string big(10 * 1024 * 1024, 'q');
  big[5 * 1024 * 1024] = '\0';
  V lines = Lines("head\n" + big + "\r\ntail");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1].size(), big.size());
  EXPECT_TRUE(lines[1] == big);
  EXPECT_EQ(lines[2], "tail");
}

TEST(LineReader, AReadErrorIsNoEndOfInput) {
  // A folder opens as a file but cannot be read.
  test::Sandbox sandbox;
  std::ifstream in(sandbox.root());
  ASSERT_TRUE(in.is_open());
  LineReader reader(in);
  std::string line;
  EXPECT_FALSE(reader.Next(line));
  EXPECT_TRUE(reader.failed());
}

}  // namespace
}  // namespace korvo::numsnip
