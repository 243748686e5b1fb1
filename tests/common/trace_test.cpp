#include "common/trace.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "common/settings.h"
#include "platform/lasterror.h"
#include "tests/support/sandbox.h"

namespace {

using korvo::platform::GetLastError;
using korvo::platform::SetLastError;
using korvo::test::Sandbox;

TEST(Trace, NeverChangesTheLastError) {
  Sandbox box;
  for (uint32_t flags : {0u, 1u}) {
    SetDebugFlags(flags);
    SetLastError(ENOENT);
    errno = EIO;
    DebugPrint("text %d\n", 1);
    DebugPrintLastError("step");
    uint32_t code = 0;
    char msg[64];
    EXPECT_EQ(FormatLastError(msg, sizeof msg, &code), 1);
    EXPECT_EQ(code, uint32_t(ENOENT));
    EXPECT_STREQ(msg, "No such file or directory");
    EXPECT_EQ(GetLastError(), uint32_t(ENOENT));
    EXPECT_EQ(errno, EIO);
  }
  EXPECT_EQ(Sandbox::readFile(box.traceFile()), "text 1\nstep E:No such file or directory\n");
}

TEST(Trace, FirstTraceReadsTheSwitchWithoutLosingTheLastError) {
  Sandbox box;
  Sandbox::writeFile(box.machineHive(),
                     "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Velmora Technologies\\Korvo]\n\"DebugFlags\"=dword:1\n");
  SetLastError(EPIPE);
  DebugPrintLastError("Write");
  EXPECT_EQ(GetLastError(), uint32_t(EPIPE));
  EXPECT_EQ(Sandbox::readFile(box.traceFile()), "Write E:Broken pipe\n");
}

TEST(Trace, IsCutTo255CharactersAndSerialised) {
  Sandbox box;
  SetDebugFlags(1);
  DebugPrint("%s", std::string(300, 'a').c_str());
  EXPECT_EQ(Sandbox::readFile(box.traceFile()), std::string(255, 'a'));
  std::filesystem::remove(box.traceFile());

  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) DebugPrint("thread %d line %03d %s\n", t, i, std::string(100, char('a' + t)).c_str());
    });
  for (auto& th : threads) th.join();
  std::string all = Sandbox::readFile(box.traceFile());
  size_t lines = 0;
  for (size_t start = 0; start < all.size(); ++lines) {
    size_t end = all.find('\n', start);
    ASSERT_NE(end, std::string::npos);
    std::string line = all.substr(start, end - start);
    char c = line[7];  // "thread N"
    EXPECT_EQ(line.substr(line.size() - 100), std::string(100, char('a' + (c - '0')))) << line;
    start = end + 1;
  }
  EXPECT_EQ(lines, 800u);
}

TEST(Trace, GoesToStandardErrorWithoutKorvoTrace) {
  Sandbox box;
  unsetenv("KORVO_TRACE");
  SetDebugFlags(1);
  testing::internal::CaptureStderr();
  DebugPrint("to stderr %s\n", "ok");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "to stderr ok\n");
}

TEST(TextConversion, Utf16AndUtf8) {
  const char16_t wide[] = u"Poštovani, ☎ \U0001F4E0 faks";
  char narrow[64];
  EXPECT_STREQ(WideToAnsi(wide, narrow, sizeof narrow), "Poštovani, ☎ \U0001F4E0 faks");
  char16_t back[64];
  EXPECT_EQ(std::u16string(AnsiToWide(narrow, back, 64)), wide);

  // Cut at a character boundary, always terminated.
  char small[4];
  EXPECT_STREQ(WideToAnsi(u"aš", small, 3), "a");  // "š" needs two bytes, only one left
  char16_t wsmall[3];
  EXPECT_EQ(std::u16string(AnsiToWide("a\U0001F4E0", wsmall, 3)), u"a");  // no half surrogate pair
  // Malformed input becomes U+FFFD.
  EXPECT_EQ(std::u16string(AnsiToWide("a\xC3(\xFF", back, 64)), u"a\uFFFD(\uFFFD");
  const char16_t lone[] = {u'x', 0xD800, u'y', 0};
  EXPECT_STREQ(WideToAnsi(lone, narrow, sizeof narrow), "x\uFFFDy");
  EXPECT_STREQ(WideToAnsi(u"", narrow, sizeof narrow), "");
}

}  // namespace
