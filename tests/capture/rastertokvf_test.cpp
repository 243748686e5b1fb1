// The fax printer's filter by CUPS's filter convention, on raster that
// cupsfilter makes from PDF documents with the printer's PPD.
#include <cups/raster.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/capture/documents.h"
#include "tests/capture/fax_pages.h"
#include "tests/capture/programs.h"
#include "tests/capture/stream_records.h"
#include "tests/support/sandbox.h"

// The documents are drawn with cairo, whose fontconfig keeps its font cache
// for the life of the process.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

using namespace korvo::test;
namespace fs = std::filesystem;

std::string Filter() { return (BuildDir() / "capture" / "rastertokvf").string(); }

class RasterToKvf : public ::testing::Test {
 protected:
  fs::path Path(const std::string& name) const { return box_.path(name); }

  // cupsfilter of the document into CUPS raster with the printer's PPD.
  void Rasterise(const fs::path& pdf, const Paper& paper, const fs::path& raster) {
    korvo::test::Rasterise(pdf, paper, raster, Path("cupsfilter.log"), box_.root());
  }

  int Run(std::vector<std::string> args, const fs::path& input, const fs::path& output) {
    args.insert(args.begin(), Filter());
    return RunProgram({args, input, output, Path("filter.log"), {}});
  }
  std::string Log() const { return Sandbox::readFile(Path("filter.log")); }

  Sandbox box_;
};

class RasterToKvfPaper : public RasterToKvf, public ::testing::WithParamInterface<Paper> {};

TEST_P(RasterToKvfPaper, PrintedPagesBecomeFaxPagesOf1728Pixels) {
  const Paper paper = GetParam();
  WritePdf(Path("doc.pdf"), paper, {"ONE", "TWO", "THREE"});
  ASSERT_NO_FATAL_FAILURE(Rasterise(Path("doc.pdf"), paper, Path("doc.ras")));
  ASSERT_EQ(Run({"7", "alice", "doc", "1", ""}, Path("doc.ras"), Path("doc.prn")), 0) << Log();
  EXPECT_NE(Log().find("INFO: 3 fax pages"), std::string::npos) << Log();

  const StreamRecords stream = ReadStreamRecords(Sandbox::readFile(Path("doc.prn")));
  EXPECT_TRUE(stream.complete);
  const std::string word = paper.name == std::string("A4") ? "A4" : "LT";
  EXPECT_EQ(stream.words, (std::vector<std::string>{"BD", word, "BP", word, "BP", word, "BP", "ED"}));
  ASSERT_EQ(stream.pages.size(), 3u);
  for (const auto& page : stream.pages) {
    EXPECT_EQ(page.lines, paper.faxLines);
    EXPECT_GT(page.blankRuns, 0u);
    EXPECT_FALSE(page.lineLengths.empty());
    EXPECT_TRUE(std::all_of(page.lineLengths.begin(), page.lineLengths.end(), [](uint16_t n) { return n == 216; }));
    // Blank runs stand in for white lines: far fewer line records than lines.
    EXPECT_LT(page.lineLengths.size(), page.lines / 2);
  }

  // The same stream through the Send Fax road's converter, read back by libtiff.
  ASSERT_NO_FATAL_FAILURE(StreamToFax(Path("doc.prn"), Path("doc.fax")));
  const auto pages = ReadTiff(Path("doc.fax"));
  ASSERT_EQ(pages.size(), 3u);
  for (const auto& page : pages) {
    EXPECT_EQ(page.width, 1728u);
    EXPECT_EQ(page.length, paper.faxLines);
    EXPECT_FLOAT_EQ(page.xres, 204);
    EXPECT_FLOAT_EQ(page.yres, 196);
    ASSERT_FALSE(page.rows.empty());
    // The paper on the line: A4 (1686 pixels) centred between equal white
    // margins, Letter (1734 pixels) cut evenly to the line.
    const uint32_t bar = (Line(kBarTop) + Line(kBarBottom)) / 2;
    uint32_t left = 0, right = 0;
    while (left < 1728 && !page.Black(left, bar)) ++left;
    while (right < 1728 && !page.Black(1727 - right, bar)) ++right;
    // The bar is drawn across the whole paper and printed across its
    // imageable area, a quarter inch (51 pixels) in from either side.
    const int paperDots = static_cast<int>(paper.width * 204 / 72);
    EXPECT_EQ(static_cast<int>(left), (1728 - paperDots) / 2 + 51);
    EXPECT_EQ(static_cast<int>(right), (1728 - paperDots) / 2 + 51);
    EXPECT_EQ(page.InkOfRow(Line(kBarTop) - 10), 0u);
    EXPECT_GT(page.InkOfRows(Line(kTextTop), Line(kTextBottom)), 2000u);
  }
}

INSTANTIATE_TEST_SUITE_P(Papers, RasterToKvfPaper, ::testing::Values(kA4, kLetter),
                         [](const auto& info) { return std::string(info.param.name); });

// A text file printed as it comes (the text filter lays it out in the
// printer's imageable area) keeps a quarter inch clear of every edge of the
// fax page, on every paper: receiving machines lose what is closer.
class RasterToKvfMargins : public RasterToKvf, public ::testing::WithParamInterface<Paper> {};

TEST_P(RasterToKvfMargins, TextKeepsClearOfTheEdges) {
  const Paper paper = GetParam();
  std::string text;
  for (int line = 0; line < 120; ++line) text += std::string(200, 'W') + "\n";
  Sandbox::writeFile(Path("doc.txt"), text);
  ASSERT_NO_FATAL_FAILURE(Rasterise(Path("doc.txt"), paper, Path("doc.ras")));
  ASSERT_EQ(Run({"7", "alice", "doc", "1", ""}, Path("doc.ras"), Path("doc.prn")), 0) << Log();
  ASSERT_NO_FATAL_FAILURE(StreamToFax(Path("doc.prn"), Path("doc.fax")));
  const auto pages = ReadTiff(Path("doc.fax"));
  ASSERT_FALSE(pages.empty());
  // The paper's width at 204 dots an inch, centred on (or cut to) the line.
  const int paperDots = static_cast<int>(paper.width * 204 / 72);
  const int left = (1728 - paperDots) / 2 + 51, right = (1728 + paperDots) / 2 - 51;
  const uint32_t top = Line(18), bottom = paper.faxLines - Line(18);
  for (size_t i = 0; i < pages.size(); ++i) {
    SCOPED_TRACE("page " + std::to_string(i + 1));
    const TiffPage& page = pages[i];
    ASSERT_EQ(page.length, paper.faxLines);
    ASSERT_FALSE(page.rows.empty());
    EXPECT_GT(page.InkOfRows(top, bottom), 10000u);
    EXPECT_EQ(page.InkOfRows(0, top), 0u);
    EXPECT_EQ(page.InkOfRows(bottom, page.length), 0u);
    uint32_t outside = 0;
    for (uint32_t y = top; y < bottom; ++y)
      for (int x = 0; x < 1728; ++x)
        if ((x < left || x >= right) && page.Black(static_cast<uint32_t>(x), y)) ++outside;
    EXPECT_EQ(outside, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Papers, RasterToKvfMargins, ::testing::Values(kA4, kLetter, kLegal),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RasterToKvf, ReadsTheNamedFileOrStandardInputAlike) {
  WritePdf(Path("doc.pdf"), kA4, {"ONE"});
  ASSERT_NO_FATAL_FAILURE(Rasterise(Path("doc.pdf"), kA4, Path("doc.ras")));
  ASSERT_EQ(Run({"1", "alice", "doc", "1", ""}, Path("doc.ras"), Path("stdin.prn")), 0) << Log();
  ASSERT_EQ(Run({"1", "alice", "doc", "1", "", Path("doc.ras").string()}, "/dev/null", Path("file.prn")), 0) << Log();
  EXPECT_EQ(Sandbox::readFile(Path("stdin.prn")), Sandbox::readFile(Path("file.prn")));
  EXPECT_FALSE(Sandbox::readFile(Path("file.prn")).empty());
}

// A raster of one black-and-white page as a crafted stream declares it, with
// `written` of its lines present.
void WriteCrafted(const fs::path& path, uint32_t width, uint32_t bits, uint32_t height, uint32_t written) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_WRITE);
  ASSERT_NE(raster, nullptr);
  cups_page_header2_t header{};
  header.PageSize[0] = 595;
  header.PageSize[1] = 842;
  header.HWResolution[0] = 204;
  header.HWResolution[1] = 196;
  header.cupsWidth = width;
  header.cupsHeight = height;
  header.cupsBitsPerColor = header.cupsBitsPerPixel = bits;
  header.cupsBytesPerLine = static_cast<unsigned>((static_cast<uint64_t>(width) * bits + 7) / 8);
  header.cupsColorSpace = CUPS_CSPACE_K;
  header.cupsColorOrder = CUPS_ORDER_CHUNKED;
  header.cupsNumColors = 1;
  ASSERT_TRUE(cupsRasterWriteHeader2(raster, &header));
  std::vector<unsigned char> line(written ? header.cupsBytesPerLine : 0, 0x55);
  for (uint32_t y = 0; y < written; ++y) ASSERT_EQ(cupsRasterWritePixels(raster, line.data(), header.cupsBytesPerLine), header.cupsBytesPerLine);
  cupsRasterClose(raster);
  close(fd);
}

// Pages beyond what a fax page holds are refused from their header, before
// any line is read or a row made for them, with the reason in the job's log:
// a longer page would be converted line by line (10 000 000 lines took
// minutes and gigabytes), a wider one asks for a row of its width.
TEST_F(RasterToKvf, RefusesPagesBeyondAFaxPage) {
  ASSERT_NO_FATAL_FAILURE(WriteCrafted(Path("long.ras"), 1728, 1, 3000, 3000));
  ASSERT_NO_FATAL_FAILURE(WriteCrafted(Path("wide.ras"), 0x7FFFFFF0, 8, 1, 0));
  struct Case {
    const char* name;
    fs::path input;
    const char* says;
  } cases[] = {
      {"3000 lines", Path("long.ras"), "ERROR: The fax printer cannot print this job: page 1 has 3000 lines, more than the 2800 of a fax page"},
      {"2 GiB lines", Path("wide.ras"), "ERROR: The fax printer cannot print this job: page 1 has lines of 2147483632 bytes, more than the 3456"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Run({"1", "alice", "doc", "1", ""}, c.input, Path("out.prn")), 1);
    EXPECT_NE(Log().find(c.says), std::string::npos) << Log();
    EXPECT_EQ(Sandbox::readFile(Path("out.prn")).find("BP"), std::string::npos);
  }
}

// What the spooler must hear about: each ends with status 1 and a line for it.
TEST_F(RasterToKvf, RefusesWhatItCannotPrint) {
  WritePdf(Path("doc.pdf"), kA4, {"ONE"});
  ASSERT_NO_FATAL_FAILURE(Rasterise(Path("doc.pdf"), kA4, Path("doc.ras")));
  const std::string raster = Sandbox::readFile(Path("doc.ras"));
  Sandbox::writeFile(Path("short.ras"), raster.substr(0, raster.size() / 2));
  Sandbox::writeFile(Path("text.txt"), "not a raster at all\n");
  struct Case {
    const char* name;
    std::vector<std::string> args;
    fs::path input;
    const char* says;
  } cases[] = {
      {"too few arguments", {"1", "alice", "doc", "1"}, "/dev/null", "Usage: "},
      {"missing file", {"1", "alice", "doc", "1", "", Path("none.ras").string()}, "/dev/null", "ERROR: Unable to open"},
      {"raster cut short", {"1", "alice", "doc", "1", ""}, Path("short.ras"), "ERROR: The fax printer cannot print"},
      {"not raster", {"1", "alice", "doc", "1", ""}, Path("text.txt"), "ERROR: The fax printer cannot print"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Run(c.args, c.input, Path("out.prn")), 1);
    EXPECT_NE(Log().find(c.says), std::string::npos) << Log();
  }
}

}  // namespace
