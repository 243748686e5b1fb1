#include "common/stream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "common/network_channel.h"
#include "platform/lasterror.h"
#include "tests/support/sandbox.h"

namespace korvo {

namespace {

class StreamTest : public ::testing::Test {
 protected:
  test::Sandbox sandbox;
  std::string file(const std::string& name, const std::string& contents) {
    auto p = sandbox.path(name);
    test::Sandbox::writeFile(p, contents);
    return p.string();
  }
};

}  // namespace

TEST_F(StreamTest, ClosingTwiceAndAttachedHandles) {
  Stream s(file("a", "x").c_str());
  ASSERT_TRUE(s.IsOpen());
  EXPECT_EQ(s.Close(), 1);
  uint32_t error = s.GetError();
  EXPECT_EQ(s.Close(), 0);
  EXPECT_EQ(s.GetError(), error);

  int fd = open(sandbox.path("a").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  { Stream attached(fd); EXPECT_FALSE(attached.OwnsHandle()); }
  EXPECT_NE(fcntl(fd, F_GETFD), -1);  // still open
  close(fd);
  // A handle closed behind the stream's back: the close fails, the stream
  // is closed all the same.
  Stream stale(fd);
  EXPECT_EQ(stale.Close(), 0);
  EXPECT_EQ(stale.GetError(), static_cast<uint32_t>(EBADF));
  EXPECT_FALSE(stale.IsOpen());

  Stream missing(sandbox.path("none").c_str());
  EXPECT_FALSE(missing.IsOpen());
  EXPECT_EQ(missing.GetError(), platform::kErrorFileNotFound);
}

TEST_F(StreamTest, ReopeningDoesNotLeakTheFirstHandle) {
  auto fds = [] {
    int n = 0;
    for (int fd = 0; fd < 1024; ++fd) n += fcntl(fd, F_GETFD) != -1;
    return n;
  };
  int before = fds();
  {
    TextFile f;
    ASSERT_EQ(f.Open(file("a", "1").c_str()), 1);
    ASSERT_EQ(f.Open(file("b", "2").c_str()), 1);
    ASSERT_EQ(f.Create(sandbox.path("c").c_str()), 1);
    EXPECT_EQ(fds(), before + 1);
  }
  EXPECT_EQ(fds(), before);
}

TEST_F(StreamTest, ReadsAndWritesFollowTheResultRules) {
  Stream s(file("a", "abc").c_str());
  char buf[8];
  uint32_t done = 9;
  EXPECT_EQ(s.Read(buf, 8, &done), 1);
  EXPECT_EQ(done, 3u);
  EXPECT_EQ(s.Read(buf, 8, &done), 0);  // end of file
  EXPECT_EQ(s.GetError(), platform::kErrorHandleEof);
  EXPECT_EQ(s.Write("", 0, &done), 0);  // writing nothing fails
  EXPECT_EQ(s.GetSize(), 3u);
  EXPECT_EQ(s.SetSize(1), 1);
  EXPECT_EQ(s.GetSize(), 1u);
  EXPECT_EQ(s.SeekToEnd(), 1);
  EXPECT_EQ(s.Seek(-5, kFileBegin), -1);
  EXPECT_EQ(s.GetError(), static_cast<uint32_t>(EINVAL));
  char text[256];
  EXPECT_EQ(s.GetErrorText(text, sizeof text), 1);
  EXPECT_STREQ(text, "Invalid argument");
  EXPECT_EQ(s.GetErrorText(text, 4), 1);
  EXPECT_STREQ(text, "Inv");
  std::string reported;
  s.ReportError([&](const char* t) { reported = t; });
  EXPECT_EQ(reported, "Invalid argument");

  Stream closed;
  EXPECT_EQ(closed.Read(buf, 1, &done), 0);
  EXPECT_EQ(closed.Write("x", 1, &done), 0);
  EXPECT_EQ(closed.Seek(0, kFileEnd), 0);
  EXPECT_EQ(closed.ReadEx(buf, 1, nullptr), 0);
}

TEST_F(StreamTest, TypedValuesRoundTrip) {
  TextFile f;
  ASSERT_EQ(f.Create(sandbox.path("v").c_str()), 1);
  EXPECT_EQ(f.WriteByte(7), 1);
  EXPECT_EQ(f.WriteLong(0x11223344), 1);
  EXPECT_EQ(f.WriteString(nullptr), 1);
  EXPECT_EQ(f.WriteString("hello"), 1);
  EXPECT_EQ(f.WriteLong(4), 1);
  EXPECT_EQ(f.Write("wxyz", 4, nullptr), 1);
  EXPECT_EQ(f.WriteLong(0), 1);
  EXPECT_EQ(f.WriteLong(9), 1);
  f.SeekToBegin();
  EXPECT_EQ(test::Sandbox::readFile(sandbox.path("v")).substr(5, 5), std::string("\x01\0\0\0\0", 5));

  uint8_t b = 0;
  uint32_t l = 0;
  std::string s = "x";
  EXPECT_EQ(f.ReadByte(&b), 1);
  EXPECT_EQ(b, 7);
  EXPECT_EQ(f.ReadLong(&l), 1);
  EXPECT_EQ(l, 0x11223344u);
  EXPECT_EQ(f.ReadString(&s), 1);
  EXPECT_EQ(s, "");
  EXPECT_EQ(f.ReadString(&s), 1);
  EXPECT_EQ(s, "hello");
  char block[8];
  uint32_t capacity = sizeof block;
  EXPECT_EQ(f.ReadBlock(block, &capacity), 1);
  EXPECT_EQ(capacity, 4u);
  EXPECT_EQ(std::string(block, 4), "wxyz");
  capacity = sizeof block;
  EXPECT_EQ(f.ReadBlock(block, &capacity), 0);  // length 0
  EXPECT_EQ(capacity, 0u);
  capacity = 8;
  EXPECT_EQ(f.ReadBlock(block, &capacity), 0);  // 9 > capacity: nothing read into block
  EXPECT_EQ(f.ReadLong(&l), 0);  // only end of file left
}

TEST_F(StreamTest, AStringLongerThanItsBytesFailsWithoutGrowing) {
  Stream f(file("s", std::string("\xff\xff\xff\x7f" "abc", 7)).c_str());
  std::string s = "kept";
  EXPECT_EQ(f.ReadString(&s), 0);
  EXPECT_EQ(s, "kept");
}

TEST_F(StreamTest, CopyToMovesWholeBlocksAndRefusesAShortSource) {
  std::string data(10000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  Stream src(file("src", data).c_str());
  TextFile dst;
  ASSERT_EQ(dst.Create(sandbox.path("dst").c_str()), 1);
  EXPECT_EQ(src.CopyTo(dst, 0), 1);
  EXPECT_EQ(src.CopyTo(dst, 10000), 1);
  EXPECT_EQ(test::Sandbox::readFile(sandbox.path("dst")), data);
  src.SeekToBegin();
  EXPECT_EQ(src.CopyTo(dst, 10001), 0);
}

TEST_F(StreamTest, ReadLineCases) {
  struct Case {
    std::string bytes;
    uint32_t size;
    std::vector<std::pair<int, std::string>> calls;
  } cases[] = {
      {"abc\r\n", 64, {{1, "abc"}, {0, ""}}},
      {"abc\ndef", 64, {{1, "abc"}, {1, "def"}, {0, ""}}},
      {"", 64, {{0, ""}}},
      {"\n\n", 64, {{1, ""}, {1, ""}, {0, ""}}},
      // A line longer than the buffer comes in pieces that join up to it.
      {"abcde\n", 4, {{1, "abc"}, {1, "de"}, {0, ""}}},
      {"abcdefg\r\nh", 4, {{1, "abc"}, {1, "def"}, {1, "g"}, {1, "h"}, {0, ""}}},
      {"abcd", 4, {{1, "abc"}, {1, "d"}, {0, ""}}},
      {"a\r\r" "bc\n", 4, {{1, "ab"}, {1, "c"}, {0, ""}}},
      {"abc", 1, {{1, ""}, {1, ""}, {1, ""}, {0, ""}}},
      {"\r", 64, {{0, ""}}},
  };
  int n = 0;
  for (const auto& c : cases) {
    TextFile f;
    ASSERT_EQ(f.Open(file("line" + std::to_string(n++), c.bytes).c_str()), 1);
    for (const auto& [result, text] : c.calls) {
      char buf[64];
      std::memset(buf, 'Z', sizeof buf);
      uint32_t count = 0;
      EXPECT_EQ(f.ReadLine(buf, c.size, &count), result) << c.bytes << " size " << c.size;
      if (result) {
        EXPECT_EQ(std::string(buf), text) << c.bytes;
      }
    }
  }
  TextFile f;
  char buf[4];
  EXPECT_EQ(f.ReadLine(buf, 0, nullptr), 0);
  EXPECT_EQ(f.ReadLine(buf, sizeof buf, nullptr), 0);  // closed
  Stream plain;
  EXPECT_EQ(plain.ReadLine(buf, sizeof buf), 0);
}

TEST_F(StreamTest, WriteLineAndDelete) {
  TextFile f;
  ASSERT_EQ(f.Create(sandbox.path("w").c_str()), 1);
  EXPECT_EQ(f.WriteLine("one"), 1);
  EXPECT_EQ(f.WriteLine(""), 1);
  EXPECT_EQ(f.WriteLine(nullptr), 1);
  f.Close();
  EXPECT_EQ(test::Sandbox::readFile(sandbox.path("w")), "one\r\n\r\n\r\n");
  EXPECT_EQ(f.Delete(), 1);
  EXPECT_EQ(f.Delete(), 0);
  EXPECT_EQ(f.GetError(), platform::kErrorFileNotFound);
  Stream plain;
  EXPECT_EQ(plain.Create("x"), 0);
  EXPECT_EQ(plain.Delete(), 0);
  EXPECT_EQ(plain.WriteLine("x"), 0);
}

TEST(RuntimeClasses, CreateEachChannelFromItsClassAlone) {
  struct Case {
    const RuntimeClass* cls;
    const char* name;
    bool network;
  } cases[] = {
      {&Stream::kRuntimeClass, "Stream", false},
      {&NetworkChannel::kRuntimeClass, "NetworkChannel", true},
      {&ClientPipe::kRuntimeClass, "ClientPipe", true},
      {&ServerPipe::kRuntimeClass, "ServerPipe", true},
      {&Pipe::kRuntimeClass, "Pipe", true},
      {&Socket::kRuntimeClass, "Socket", true},
  };
  for (const auto& c : cases) {
    std::unique_ptr<Stream> obj(c.cls->CreateObject());
    ASSERT_NE(obj, nullptr) << c.name;
    EXPECT_STREQ(obj->GetRuntimeClass()->className, c.name);
    EXPECT_EQ(obj->GetRuntimeClass(), c.cls);
    EXPECT_EQ(c.cls->IsDerivedFrom(NetworkChannel::kRuntimeClass), c.network) << c.name;
    EXPECT_TRUE(c.cls->IsDerivedFrom(Stream::kRuntimeClass));
    EXPECT_EQ(dynamic_cast<NetworkChannel*>(obj.get()) != nullptr, c.network);
    EXPECT_FALSE(obj->IsOpen());
  }
}

}  // namespace korvo
