// The print stream source against the converter: what it writes converts
// back to the same pages.
#include "tools/prnstream/prn_stream.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/prn2tiff.h"
#include "common/status_codes.h"
#include "common/tiff_reader.h"
#include "tests/support/sandbox.h"

namespace korvo {
namespace {

using tools::PageRows;
constexpr uint32_t kStride = tools::kStreamLineBytes;

class PrnStreamTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return box_.path(name).string(); }

  // Converts the stream file; the pages read back, bit 1 black.
  std::vector<PageRows> Convert(const std::string& prn) {
    Prn2Tiff conversion;
    EXPECT_EQ(conversion.Open(prn, Path("job.fax")), 0u);
    Status status;
    while ((status = conversion.NextPage()) == 0) EXPECT_EQ(conversion.ConvertPage(), 0u);
    EXPECT_EQ(status, kStatusEndOfPrnDocument);
    std::vector<PageRows> pages;
    TiffReader reader;
    uint16_t count = 0;
    PageDescriptor d;
    reader.Open(Path("job.fax"), count, d);
    for (uint16_t i = 0; i < count; ++i) {
      uint16_t index = i;
      const uint8_t* bitmap = nullptr;
      uint32_t size = 0;
      EXPECT_TRUE(reader.ReadPageBitmap(kPageAtIndex, index, d, bitmap, size));
      PageRows rows(bitmap, bitmap + size);
      for (auto& b : rows) b = static_cast<uint8_t>(~b);
      pages.push_back(rows);
    }
    return pages;
  }

  std::vector<PageRows> ConvertBytes(const std::string& stream) {
    test::Sandbox::writeFile(box_.path("job.prn"), stream);
    return Convert(Path("job.prn"));
  }

  int Run(const std::string& arguments) {
    const std::string command = std::string(KORVO_PRNSTREAM) + " " + arguments + " 2>" + Path("err.txt");
    return std::system(command.c_str());
  }

  test::Sandbox box_;
};

// A row with one black pixel at x.
PageRows Dot(uint32_t x) {
  PageRows row(kStride, 0);
  row[x / 8] = static_cast<uint8_t>(0x80 >> (x % 8));
  return row;
}

TEST_F(PrnStreamTest, RunsOfWhiteRowsComeBackAsTheyWere) {
  // Gaps around the 255 that one blank record holds, after a line and at the top.
  for (uint32_t gap : {0u, 1u, 2u, 253u, 254u, 255u, 256u, 509u, 510u, 511u, 1000u}) {
    SCOPED_TRACE(gap);
    PageRows page;
    auto white = [&](uint32_t n) { page.insert(page.end(), static_cast<size_t>(n) * kStride, 0); };
    auto line = [&](uint32_t x) {
      const PageRows row = Dot(x);
      page.insert(page.end(), row.begin(), row.end());
    };
    white(gap);
    line(1);
    white(gap);
    line(1727);
    white(gap);
    tools::PrnStreamWriter stream;
    stream.BeginDocument(tools::Paper::A4);
    stream.Page(page);
    stream.EndDocument();
    const auto pages = ConvertBytes(stream.Bytes());
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0], page);
  }
}

TEST_F(PrnStreamTest, TextBecomesFullPagesWithInkInsideTheMargins) {
  test::Sandbox::writeFile(box_.path("letter.txt"), "Dear reader,\n\tthis is page one.\fAnd page two.\n");
  ASSERT_EQ(Run("-p letter -t " + Path("letter.txt") + " " + Path("job.prn")), 0);
  const auto pages = Convert(Path("job.prn"));
  ASSERT_EQ(pages.size(), 2u);
  for (const auto& page : pages) {
    ASSERT_EQ(page.size(), size_t{tools::kLetterLines} * kStride);
    uint32_t ink = 0, top = UINT32_MAX, bottom = 0, left = UINT32_MAX;
    for (uint32_t y = 0; y < tools::kLetterLines; ++y)
      for (uint32_t x = 0; x < 1728; ++x)
        if (page[y * kStride + x / 8] & (0x80 >> (x % 8))) {
          ++ink;
          top = std::min(top, y);
          bottom = std::max(bottom, y);
          left = std::min(left, x);
        }
    EXPECT_GT(ink, 500u);
    EXPECT_GE(top, 196u);  // one inch of margin
    EXPECT_LT(bottom, 196u + 2 * 36u);
    EXPECT_GE(left, 204u);
    EXPECT_LT(left, 220u);
  }
}

TEST_F(PrnStreamTest, ImagesArePlacedTopLeftAndCutIntoPages) {
  // 3 x 2 plain PBM, then raw PBM of 9 x 2300 (two A4 pages).
  test::Sandbox::writeFile(box_.path("small.pbm"), "P1\n# comment\n3 2\n1 0 1\n0 1 0\n");
  ASSERT_EQ(Run("-i " + Path("small.pbm") + " " + Path("job.prn")), 0);
  auto pages = Convert(Path("job.prn"));
  ASSERT_EQ(pages.size(), 1u);
  ASSERT_EQ(pages[0].size(), size_t{tools::kA4Lines} * kStride);
  EXPECT_EQ(pages[0][0], 0xA0);
  EXPECT_EQ(pages[0][kStride], 0x40);
  EXPECT_EQ(std::count(pages[0].begin(), pages[0].end(), 0), static_cast<long>(pages[0].size() - 2));

  std::string raw = "P4 9 2300\n";
  for (int y = 0; y < 2300; ++y) raw += std::string("\xFF\xFF", 2);  // the bits past 9 pixels are not image
  test::Sandbox::writeFile(box_.path("tall.pbm"), raw);
  ASSERT_EQ(Run("-i " + Path("tall.pbm") + " " + Path("job.prn")), 0);
  pages = Convert(Path("job.prn"));
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0][(tools::kA4Lines - 1) * kStride + 1], 0x80);
  EXPECT_EQ(pages[1][7 * kStride], 0xFF);
  EXPECT_EQ(pages[1][7 * kStride + 1], 0x80);
  EXPECT_EQ(pages[1][8 * kStride], 0x00);
}

// A line too long for the page goes on in the next printed line, broken at
// a blank: the page is the one printed from the same words with a line end
// at one of the blanks, so no word is lost. A word longer than a whole line
// is broken too.
TEST_F(PrnStreamTest, LongTextLinesWrapAtWordBoundaries) {
  const uint32_t lines = tools::PageLines(tools::Paper::A4);
  std::vector<std::string> words;
  for (int i = 0; i < 40; ++i) words.push_back("word" + std::to_string(i));
  std::string line;
  for (const auto& w : words) line += (line.empty() ? "" : " ") + w;
  const auto wrapped = tools::RenderTextPages(line, lines);
  ASSERT_EQ(wrapped.size(), 1u);
  bool found = false;
  for (size_t i = 1; i < words.size() && !found; ++i) {
    std::string broken;
    for (size_t j = 0; j < words.size(); ++j) broken += (j == 0 ? "" : j == i ? "\n" : " ") + words[j];
    found = tools::RenderTextPages(broken, lines) == wrapped;
  }
  EXPECT_TRUE(found) << "no break at a blank prints the same page";

  // Ink on the second printed line (one inch down, then one line of 36 rows).
  auto inkOnLine = [&](const PageRows& page, uint32_t n) {
    for (uint32_t y = 196 + n * 36; y < 196 + (n + 1) * 36; ++y)
      for (uint32_t i = 0; i < kStride; ++i)
        if (page[y * kStride + i]) return true;
    return false;
  };
  EXPECT_TRUE(inkOnLine(wrapped[0], 1));
  const auto longWord = tools::RenderTextPages(std::string(400, 'W'), lines);
  EXPECT_TRUE(inkOnLine(longWord[0], 1));
  // A line that fits is one printed line.
  EXPECT_FALSE(inkOnLine(tools::RenderTextPages("word0 word1", lines)[0], 1));
}

TEST_F(PrnStreamTest, HelpPrintsTheUsageAndSucceeds) {
  const std::string command = std::string(KORVO_PRNSTREAM) + " --help >" + Path("out.txt") + " 2>" + Path("err.txt");
  EXPECT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(test::Sandbox::readFile(box_.path("out.txt")).rfind("usage: prnstream", 0), 0u);
  EXPECT_EQ(test::Sandbox::readFile(box_.path("err.txt")), "");
}

TEST_F(PrnStreamTest, BadInputIsRefusedWithItsReason) {
  struct Case {
    const char* pbm;
    const char* reason;
  };
  const Case cases[] = {
      {"P2 3 2\n", "not a PBM image"},
      {"P1 x 2\n", "bad PBM size"},
      {"P1 0 2\n", "bad PBM size"},
      {"P1 1729 1\n", "wider than 1728"},
      {"P1 3 2\n1 0 1\n0 1\n", "ends early"},
      {"P4 16 3\n\x01\x02\x03\x04", "ends early"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pbm);
    test::Sandbox::writeFile(box_.path("bad.pbm"), c.pbm);
    EXPECT_NE(Run("-i " + Path("bad.pbm") + " " + Path("job.prn")), 0);
    EXPECT_NE(test::Sandbox::readFile(box_.path("err.txt")).find(c.reason), std::string::npos);
  }
  EXPECT_NE(Run("-t " + Path("missing.txt") + " " + Path("job.prn")), 0);
  EXPECT_NE(Run(Path("job.prn")), 0);  // neither text nor image
}

}  // namespace
}  // namespace korvo
