// The fax printer's filter by CUPS's filter convention, on raster that
// cupsfilter makes from PDF documents with the printer's PPD.
#include <gtest/gtest.h>

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
    EXPECT_GT(page.InkOfRows(Line(kTextTop), Line(kTextBottom)), 2000u);
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
