// The fax printer's filter by CUPS's filter convention, on raster that
// cupsfilter makes from PDF documents with the printer's PPD.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/prn2tiff.h"
#include "tests/capture/documents.h"
#include "tests/capture/programs.h"
#include "tests/capture/stream_records.h"
#include "tests/support/sandbox.h"
#include "tests/support/system_program.h"

// The documents are drawn with cairo, whose fontconfig keeps its font cache
// for the life of the process.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

using namespace korvo::test;
namespace fs = std::filesystem;

std::string Filter() { return (BuildDir() / "capture" / "rastertokvf").string(); }
std::string Ppd() { return (SourceDir() / "capture" / "Korvo_Printer.ppd").string(); }

// One fax page read back with libtiff: rows of 216 bytes, bit 1 black.
struct TiffPage {
  uint32_t width = 0, length = 0;
  float xres = 0, yres = 0;
  std::vector<uint8_t> rows;
  bool Black(uint32_t x, uint32_t y) const { return rows[y * 216 + x / 8] & (0x80 >> (x % 8)); }
  uint32_t InkOfRow(uint32_t y) const {
    uint32_t n = 0;
    for (uint32_t x = 0; x < width; ++x) n += Black(x, y);
    return n;
  }
};

std::vector<TiffPage> ReadTiff(const fs::path& path) {
  std::vector<TiffPage> pages;
  TIFFSetWarningHandler(nullptr);
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return pages;
  do {
    TiffPage p;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &p.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &p.length);
    TIFFGetField(tif, TIFFTAG_XRESOLUTION, &p.xres);
    TIFFGetField(tif, TIFFTAG_YRESOLUTION, &p.yres);
    uint16_t photometric = 0;
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    p.rows.resize(static_cast<size_t>(216) * p.length);
    if (p.width == 1728 && TIFFReadEncodedStrip(tif, 0, p.rows.data(), static_cast<tmsize_t>(p.rows.size())) < 0)
      p.rows.clear();
    if (photometric == PHOTOMETRIC_MINISBLACK)
      for (auto& b : p.rows) b = static_cast<uint8_t>(~b);
    pages.push_back(std::move(p));
  } while (TIFFReadDirectory(tif));
  TIFFClose(tif);
  return pages;
}

class RasterToKvf : public ::testing::Test {
 protected:
  fs::path Path(const std::string& name) const { return box_.path(name); }

  // cupsfilter of the document into CUPS raster with the printer's PPD.
  void Rasterise(const fs::path& pdf, const Paper& paper, const fs::path& raster) {
    const int rc = RunProgram({{SystemProgram("cupsfilter"), "-p", Ppd(), "-m", "application/vnd.cups-raster", "-o",
                                std::string("PageSize=") + paper.name, pdf.string()},
                               "/dev/null",
                               raster,
                               Path("cupsfilter.log"),
                               {"TMPDIR=" + box_.root().string()}});
    ASSERT_EQ(rc, 0) << Sandbox::readFile(Path("cupsfilter.log"));
    ASSERT_GT(fs::file_size(raster), 0u);
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
  korvo::Prn2Tiff convert;
  ASSERT_EQ(convert.Open(Path("doc.prn").string(), Path("doc.fax").string()), 0u);
  korvo::Status status;
  while ((status = convert.NextPage()) == 0) ASSERT_EQ(convert.ConvertPage(), 0u);
  ASSERT_EQ(status, 0x400017D4u);
  const auto pages = ReadTiff(Path("doc.fax"));
  ASSERT_EQ(pages.size(), 3u);
  for (const auto& page : pages) {
    EXPECT_EQ(page.width, 1728u);
    EXPECT_EQ(page.length, paper.faxLines);
    EXPECT_FLOAT_EQ(page.xres, 204);
    EXPECT_FLOAT_EQ(page.yres, 196);
    ASSERT_FALSE(page.rows.empty());
    // The bar across the paper: A4 (1686 pixels) centred between equal white
    // margins, Letter (1734 pixels) cut to the whole line.
    const uint32_t bar = (Line(kBarTop) + Line(kBarBottom)) / 2;
    uint32_t left = 0, right = 0;
    while (left < 1728 && !page.Black(left, bar)) ++left;
    while (right < 1728 && !page.Black(1727 - right, bar)) ++right;
    if (word == "A4") {
      EXPECT_EQ(left, 21u);
      EXPECT_EQ(right, 21u);
    } else {
      EXPECT_EQ(page.InkOfRow(bar), 1728u);
    }
    EXPECT_EQ(page.InkOfRow(Line(kBarTop) - 10), 0u);
    uint32_t textInk = 0;
    for (uint32_t y = Line(kTextTop); y < Line(kTextBottom); ++y) textInk += page.InkOfRow(y);
    EXPECT_GT(textInk, 2000u);
  }
}

INSTANTIATE_TEST_SUITE_P(Papers, RasterToKvfPaper, ::testing::Values(kA4, kLetter),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RasterToKvf, ReadsTheNamedFileOrStandardInputAlike) {
  WritePdf(Path("doc.pdf"), kA4, {"ONE"});
  ASSERT_NO_FATAL_FAILURE(Rasterise(Path("doc.pdf"), kA4, Path("doc.ras")));
  ASSERT_EQ(Run({"1", "alice", "doc", "1", ""}, Path("doc.ras"), Path("stdin.prn")), 0) << Log();
  ASSERT_EQ(Run({"1", "alice", "doc", "1", "", Path("doc.ras").string()}, "/dev/null", Path("file.prn")), 0) << Log();
  EXPECT_EQ(Sandbox::readFile(Path("stdin.prn")), Sandbox::readFile(Path("file.prn")));
  EXPECT_FALSE(Sandbox::readFile(Path("file.prn")).empty());
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
