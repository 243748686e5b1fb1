#include "common/prn2tiff.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/status_codes.h"
#include "common/tiff_reader.h"
#include "tests/support/sandbox.h"

namespace korvo {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kStride = 216;

// A line with a few black runs that depend on `seed`; msb first, bit 1 black.
Bytes Line(uint32_t seed) {
  Bytes row(kStride, 0);
  for (uint32_t x = 37 * seed % 300; x < 1728; x += 97 + seed % 41)
    for (uint32_t i = 0; i < 3 + seed % 9 && x + i < 1728; ++i)
      row[(x + i) / 8] |= static_cast<uint8_t>(0x80 >> ((x + i) % 8));
  return row;
}
const Bytes kBlank(kStride, 0);

// Builds a page stream record by record.
struct Stream {
  std::string bytes;
  Stream& W(const char* word) {
    bytes.append(word, 2);
    return *this;
  }
  Stream& CF(uint8_t n) {
    W("CF");
    bytes += static_cast<char>(n);
    return *this;
  }
  Stream& BL(const Bytes& row, uint16_t length = kStride) {
    W("BL");
    bytes += static_cast<char>(length & 0xFF);
    bytes += static_cast<char>(length >> 8);
    bytes.append(reinterpret_cast<const char*>(row.data()), std::min<size_t>(row.size(), length));
    return *this;
  }
  Stream& Cut(size_t n) {
    bytes.resize(bytes.size() - n);
    return *this;
  }
};

// The results of one conversion the way the Send Fax dialog drives it.
struct Conversion {
  Status open = 0;
  std::vector<Status> steps;  // NextPage, ConvertPage, ... until one is not 0
  Status last() const { return steps.empty() ? open : steps.back(); }
};

class Prn2TiffTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return box_.path(name).string(); }

  Conversion Convert(const std::string& stream) {
    test::Sandbox::writeFile(box_.path("job.prn"), stream);
    Prn2Tiff prn;
    Conversion run;
    run.open = prn.Open(Path("job.prn"), Path("job.fax"));
    if (run.open != 0) return run;
    for (;;) {
      run.steps.push_back(prn.NextPage());
      if (run.steps.back() != 0) break;
      run.steps.push_back(prn.ConvertPage());
      if (run.steps.back() != 0) break;
    }
    return run;
  }

  // The pages of the image file, each as its rows (bit 1 black).
  std::vector<std::vector<Bytes>> Pages() {
    std::vector<std::vector<Bytes>> pages;
    TiffReader reader;
    uint16_t count = 0;
    PageDescriptor d;
    reader.Open(Path("job.fax"), count, d);
    for (uint16_t i = 0; i < count; ++i) {
      uint16_t index = i;
      const uint8_t* bitmap = nullptr;
      uint32_t size = 0;
      EXPECT_TRUE(reader.ReadPageBitmap(kPageAtIndex, index, d, bitmap, size));
      EXPECT_EQ(d.width, 1728);
      EXPECT_EQ(d.xResolution, 204);
      EXPECT_EQ(d.yResolution, 196);
      EXPECT_EQ(size, static_cast<uint32_t>(d.length) * kStride);
      std::vector<Bytes> rows;
      for (uint32_t y = 0; y < d.length; ++y) {
        Bytes row(bitmap + y * kStride, bitmap + (y + 1) * kStride);
        for (auto& b : row) b = static_cast<uint8_t>(~b);  // the reader gives white as 1
        rows.push_back(row);
      }
      pages.push_back(rows);
    }
    return pages;
  }

  test::Sandbox box_;
};

TEST_F(Prn2TiffTest, BlankLineRecordsFollowTheLineRule) {
  const Bytes a = Line(1), b = Line(2);
  struct Case {
    const char* what;
    Stream page;
    std::vector<Bytes> lines;
  };
  const std::vector<Case> cases = {
      {"three lines", Stream().BL(a).BL(b).BL(a), {a, b, a}},
      {"CF 5 after a line moves five lines down from it", Stream().BL(a).CF(5).BL(b),
       {a, kBlank, kBlank, kBlank, kBlank, b}},
      {"CF 5 before any line is five blank lines", Stream().CF(5).BL(a), {kBlank, kBlank, kBlank, kBlank, kBlank, a}},
      {"CF before EP ends the page with blank lines", Stream().BL(a).CF(3), {a, kBlank, kBlank}},
      {"only the first CF after a line counts the line", Stream().BL(a).CF(2).CF(2).BL(b),
       {a, kBlank, kBlank, kBlank, b}},
      {"CF 0 changes nothing", Stream().BL(a).CF(0).CF(2).BL(b), {a, kBlank, b}},
      {"CF 1 after a line is no blank line", Stream().BL(a).CF(1).BL(b), {a, b}},
      {"NR and unknown words inside a page are skipped", Stream().W("NR").BL(a).W("ZZ").W("BP").BL(b), {a, b}},
      {"a page without lines is one white line", Stream(), {kBlank}},
      {"so is a page of words only", Stream().W("NR").CF(0), {kBlank}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Stream s;
    s.W("BD").W("BP").bytes += c.page.bytes;
    s.W("EP").W("ED");
    const Conversion run = Convert(s.bytes);
    EXPECT_EQ(run.steps, (std::vector<Status>{0, 0, kStatusEndOfPrnDocument}));
    const auto pages = Pages();
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0], c.lines);
  }
}

TEST_F(Prn2TiffTest, WordsBetweenPagesAreSkippedAndEveryPageIsKept) {
  const Bytes a = Line(3), b = Line(4), c = Line(5);
  Stream s;
  s.W("BD").W("A4").W("LT").W("QG").W("XY");
  s.W("BP").BL(a).W("EP");
  s.W("HT").W("NR").W("BP").BL(b).BL(c).W("EP");
  s.W("BP").CF(10).W("EP").W("ED");
  const Conversion run = Convert(s.bytes);
  EXPECT_EQ(run.steps, (std::vector<Status>{0, 0, 0, 0, 0, 0, kStatusEndOfPrnDocument}));
  const auto pages = Pages();
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_EQ(pages[0], std::vector<Bytes>{a});
  EXPECT_EQ(pages[1], (std::vector<Bytes>{b, c}));
  EXPECT_EQ(pages[2], std::vector<Bytes>(10, kBlank));
  EXPECT_EQ(CountTiffPages(Path("job.fax")), 3);
}

TEST_F(Prn2TiffTest, BadStreamsEndWithTheirStatusAndKeepTheCompletedPages) {
  const Bytes a = Line(6);
  Stream good;
  good.W("BD").W("BP").BL(a).BL(a).W("EP");
  struct Case {
    const char* what;
    std::string rest;
    Status last;
  };
  const std::vector<Case> cases = {
      {"a line of 215 bytes", Stream().W("BP").BL(a, 215).W("EP").W("ED").bytes, kStatusPrnToTiff},
      {"a line of 217 bytes", Stream().W("BP").BL(Bytes(217, 0), 217).W("EP").W("ED").bytes, kStatusPrnToTiff},
      {"a stream cut inside a line", Stream().W("BP").BL(a).Cut(100).bytes, kStatusPrnToTiff},
      {"a stream cut inside a line length", Stream().W("BP").W("BL").bytes + "\xd8", kStatusPrnToTiff},
      {"a stream cut after CF", Stream().W("BP").W("CF").bytes, kStatusPrnToTiff},
      {"a stream cut inside a page", Stream().W("BP").BL(a).bytes, kStatusPrnToTiff},
      {"a stream cut inside a word", "E", kStatusNextPrnPage},
      {"no end of document", "", kStatusNextPrnPage},
      {"no end of document after words", Stream().W("A4").W("NR").bytes, kStatusNextPrnPage},
      // 65535 lines are all a page can hold: its length is a 16-bit count.
      {"a page longer than a page can be",
       [] {
         Stream s;
         s.W("BP");
         for (int i = 0; i < 258; ++i) s.CF(255);
         return s.W("EP").W("ED").bytes;
       }(),
       kStatusPrnToTiff},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Conversion run = Convert(good.bytes + c.rest);
    EXPECT_EQ(run.open, 0u);
    EXPECT_EQ(run.last(), c.last);
    // The image file is closed with the first page in it.
    EXPECT_EQ(CountTiffPages(Path("job.fax")), 1);
    const auto pages = Pages();
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0], (std::vector<Bytes>{a, a}));
  }
}

TEST_F(Prn2TiffTest, TheLongestPageIsConverted) {
  Stream s;
  s.W("BD").W("BP");
  for (int i = 0; i < 256; ++i) s.CF(255);
  s.CF(254).BL(Line(8)).W("EP").W("ED");  // 65534 blank lines and one line
  EXPECT_EQ(Convert(s.bytes).last(), kStatusEndOfPrnDocument);
  TiffReader reader;
  uint16_t count = 0;
  PageDescriptor d;
  reader.Open(Path("job.fax"), count, d);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(d.length, 65535);
}

// A temporary image file is written through the handle it was made with:
// emptied first, then the same bytes as a conversion by name.
TEST_F(Prn2TiffTest, AnOpenImageFileGetsTheSameFaxAsOneByName) {
  Stream s;
  s.W("BD").W("BP").BL(Line(1)).CF(3).BL(Line(2)).W("EP").W("BP").BL(Line(3)).W("EP").W("ED");
  ASSERT_EQ(Convert(s.bytes).last(), kStatusEndOfPrnDocument);
  const std::string byName = test::Sandbox::readFile(box_.path("job.fax"));
  test::Sandbox::writeFile(box_.path("open.fax"), std::string(byName.size() * 2, 'x'));
  korvo::TextFile image;
  ASSERT_EQ(image.Open(Path("open.fax").c_str(), kGenericRead | kGenericWrite), 1);
  Prn2Tiff prn;
  ASSERT_EQ(prn.Open(Path("job.prn"), image), 0u);
  Status status;
  while ((status = prn.NextPage()) == 0) ASSERT_EQ(prn.ConvertPage(), 0u);
  EXPECT_EQ(status, kStatusEndOfPrnDocument);
  // The handle is still the caller's.
  EXPECT_TRUE(image.IsOpen());
  image.Close();
  EXPECT_TRUE(test::Sandbox::readFile(box_.path("open.fax")) == byName);
}

TEST_F(Prn2TiffTest, FilesThatCannotBeOpenedAreReportedBeforeAnythingIsWritten) {
  Prn2Tiff prn;
  EXPECT_EQ(prn.Open(Path("missing.prn"), Path("job.fax")), kStatusOpenPrnOrTiff);
  EXPECT_FALSE(std::filesystem::exists(Path("job.fax")));
  EXPECT_EQ(prn.NextPage(), kStatusNextPrnPage);
  EXPECT_EQ(prn.ConvertPage(), kStatusPrnToTiff);

  test::Sandbox::writeFile(box_.path("job.prn"), "BDBPEPED");
  EXPECT_EQ(prn.Open(Path("job.prn"), Path("no/such/folder/job.fax")), kStatusOpenPrnOrTiff);
  EXPECT_EQ(prn.NextPage(), kStatusNextPrnPage);
}

TEST_F(Prn2TiffTest, CallsAfterTheEndFailWithoutTouchingTheFile) {
  test::Sandbox::writeFile(box_.path("job.prn"), Stream().W("BD").W("BP").BL(Line(9)).W("EP").W("ED").bytes);
  Prn2Tiff prn;
  ASSERT_EQ(prn.Open(Path("job.prn"), Path("job.fax")), 0u);
  EXPECT_EQ(prn.NextPage(), 0u);
  EXPECT_EQ(prn.ConvertPage(), 0u);
  EXPECT_EQ(prn.NextPage(), kStatusEndOfPrnDocument);
  const std::string closed = test::Sandbox::readFile(box_.path("job.fax"));
  EXPECT_EQ(prn.ConvertPage(), kStatusPrnToTiff);
  EXPECT_EQ(prn.NextPage(), kStatusNextPrnPage);
  EXPECT_EQ(test::Sandbox::readFile(box_.path("job.fax")), closed);
  EXPECT_EQ(CountTiffPages(Path("job.fax")), 1);
}

TEST_F(Prn2TiffTest, PagesCarryTheFaxServerNameAndLibtiffReadsThem) {
  const Bytes a = Line(10), b = Line(11);
  // The last page has no lines at all.
  const Conversion run = Convert(
      Stream().W("BD").W("BP").BL(a).CF(3).BL(b).W("EP").W("BP").BL(b).W("EP").W("BP").W("EP").W("ED").bytes);
  ASSERT_EQ(run.last(), kStatusEndOfPrnDocument);
  const std::string out = Path("info.txt");
  ASSERT_EQ(std::system(("tiffinfo -D " + Path("job.fax") + " >" + out + " 2>&1").c_str()), 0);
  const std::string info = test::Sandbox::readFile(out);
  EXPECT_NE(info.find("Software: KV Fax Server"), std::string::npos) << info;
  EXPECT_NE(info.find("Image Width: 1728 Image Length: 4"), std::string::npos) << info;
  EXPECT_NE(info.find("Image Width: 1728 Image Length: 1"), std::string::npos) << info;
  EXPECT_NE(info.find("Resolution: 204, 196 pixels/inch"), std::string::npos) << info;
  EXPECT_EQ(info.find("rror"), std::string::npos) << info;
  EXPECT_EQ(info.find("arning"), std::string::npos) << info;
  EXPECT_NE(info.find("Page Number: 2-3"), std::string::npos) << info;
  const std::string pdf = Path("job.pdf");
  EXPECT_EQ(std::system(("tiff2pdf -o " + pdf + " " + Path("job.fax") + " >" + out + " 2>&1").c_str()), 0)
      << test::Sandbox::readFile(out);
}

TEST(PrnTiffExceptionTest, Texts) {
  const std::pair<uint32_t, const char*> cases[] = {{kPrnWrongHeader, "Prn2Tiff Wrong Header Error"},
                                                    {kPrnUnexpectedCommand, "Prn2Tiff Unexpected Command Error"},
                                                    {kPrnWrongLineLength, "Prn2Tiff Wrong Line Length Error"},
                                                    {kPrnPageTooLong, "Prn2Tiff Unknown Error"},
                                                    {99, "Prn2Tiff Unknown Error"}};
  for (const auto& [code, text] : cases) EXPECT_EQ(PrnTiffException(code).Text(), text) << code;
}

}  // namespace
}  // namespace korvo
