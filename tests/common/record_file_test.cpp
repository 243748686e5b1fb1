#include "common/record_file.h"

#include <gtest/gtest.h>

#include "tests/support/sandbox.h"

namespace korvo {
namespace {

TEST(RecordFile, TextLinesEndInCrLfAndReadBackWithout) {
  test::Sandbox sandbox;
  const std::string path = sandbox.path("list.txt").string();
  RecordFile out;
  out.Open(path, RecordFile::kReadWrite | RecordFile::kCreate | RecordFile::kText);
  out.WriteLine("a\x1B" "b\x1B");
  out.WriteLine("42");
  out.Close();
  EXPECT_EQ(test::Sandbox::readFile(path), "a\x1B" "b\x1B\r\n42\r\n");

  RecordFile in;
  in.Open(path, RecordFile::kRead | RecordFile::kText);
  std::string line;
  ASSERT_TRUE(in.ReadLine(line));
  EXPECT_EQ(line, "a\x1B" "b\x1B");
  long n = 0;
  ASSERT_TRUE(in.ReadNumber(n));
  EXPECT_EQ(n, 42);
  EXPECT_FALSE(in.ReadLine(line));
  EXPECT_TRUE(in.AtEnd());
}

TEST(RecordFile, LinesLongerThanTheLineLengthComeInPieces) {
  test::Sandbox sandbox;
  const std::string path = sandbox.path("long.txt").string();
  sandbox.writeFile(path, "abcdefgh\nxy");
  RecordFile in;
  in.SetLineLength(4);
  in.Open(path, RecordFile::kRead);
  std::string line;
  std::vector<std::string> lines;
  while (in.ReadLine(line)) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{"abc", "def", "gh", "xy"}));
}

TEST(RecordFile, OpenFailuresThrowAndBinaryIoIsExact) {
  test::Sandbox sandbox;
  const std::string path = sandbox.path("data.bin").string();
  RecordFile f;
  EXPECT_FALSE(RecordFile::Exists(path));
  EXPECT_THROW(f.Open(path, RecordFile::kRead), FileException);
  EXPECT_THROW(f.Open(path, RecordFile::kReadWrite), FileException);
  EXPECT_THROW(f.Write("x", 1), FileException);
  f.Open(path, RecordFile::kReadWrite | RecordFile::kCreate | RecordFile::kNoTruncate);
  f.Write("0123456789", 10);
  f.Close();
  f.Open(path, RecordFile::kReadWrite | RecordFile::kCreate | RecordFile::kNoTruncate);
  f.Seek(2);
  f.Write("ab", 2);
  EXPECT_EQ(f.GetLength(), 10);
  f.SetLength(6);
  char buf[8] = {};
  f.Seek(0);
  EXPECT_FALSE(f.ReadExact(buf, 8));
  f.Close();
  EXPECT_TRUE(RecordFile::Exists(path));
  EXPECT_EQ(test::Sandbox::readFile(path), "01ab45");
}

}  // namespace
}  // namespace korvo
