// Fax image files against libtiff and its tools: what this code writes they
// read without complaint, and what libtiff codes this code reads.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/tiff_reader.h"
#include "common/tiff_writer.h"
#include "tests/common/fax_pages.h"
#include "tests/support/sandbox.h"

namespace korvo {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kLines = 400;

struct ToolRun {
  int status;
  std::string out, err;
};

class LibtiffInterop : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) { return box_.path(name).string(); }

  ToolRun Tool(const std::string& command) {
    const std::string out = Path("tool.out"), err = Path("tool.err");
    const int status = std::system((command + " >" + out + " 2>" + err).c_str());
    return {status, test::Sandbox::readFile(out), test::Sandbox::readFile(err)};
  }

  // Pages of different content, one in normal resolution.
  std::string WriteFaxFile(const std::string& name, std::vector<Bytes>& bitmaps) {
    TiffWriter w;
    w.Open(Path(name));
    for (uint32_t i = 0; i < 3; ++i) {
      bitmaps.push_back(test::TextPage(1728, kLines, 20 + i));
      if (i == 1) std::fill(bitmaps[i].begin(), bitmaps[i].end(), 0);  // an all-white page
      const Bytes coded = test::EncodePage(bitmaps[i], 1728, kLines);
      PageDescriptor d;
      d.length = kLines;
      d.yResolution = i == 2 ? 98 : 196;
      w.WritePage(d, coded.data(), static_cast<uint32_t>(coded.size()));
    }
    w.Close();
    return Path(name);
  }

  test::Sandbox box_;
};

TEST_F(LibtiffInterop, LibtiffDecodesOurPagesToTheSamePixels) {
  std::vector<Bytes> bitmaps;
  const std::string path = WriteFaxFile("ours.fax", bitmaps);
  TIFFSetWarningHandler(nullptr);
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  ASSERT_NE(tif, nullptr);
  for (int page = 0; page < 3; ++page) {
    ASSERT_EQ(TIFFSetDirectory(tif, static_cast<tdir_t>(page)), 1);
    uint32_t width = 0, length = 0;
    uint16_t compression = 0, index = 0, total = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &length);
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(tif, TIFFTAG_PAGENUMBER, &index, &total);
    EXPECT_EQ(width, 1728u);
    EXPECT_EQ(length, kLines);
    EXPECT_EQ(compression, COMPRESSION_CCITTFAX3);
    EXPECT_EQ(index, page);
    EXPECT_EQ(total, 3);
    Bytes decoded(216 * kLines);
    ASSERT_EQ(TIFFReadEncodedStrip(tif, 0, decoded.data(), static_cast<tmsize_t>(decoded.size())),
              static_cast<tmsize_t>(decoded.size()));
    EXPECT_EQ(decoded, bitmaps[page]) << "page " << page;
  }
  TIFFClose(tif);
}

TEST_F(LibtiffInterop, ToolsTakeOurFilesWithoutComplaint) {
  std::vector<Bytes> bitmaps;
  const std::string path = WriteFaxFile("ours.fax", bitmaps);
  const ToolRun info = Tool("tiffinfo -D " + path);
  EXPECT_EQ(info.status, 0);
  EXPECT_EQ(info.err, "");
  EXPECT_EQ(info.out.find("Warning"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("KV Generic Tiff Writer"), std::string::npos);
  EXPECT_NE(info.out.find("Page Number: 2-3"), std::string::npos) << info.out;

  const ToolRun copy = Tool("tiffcp -c none " + path + " " + Path("copy.tif"));
  EXPECT_EQ(copy.status, 0);
  EXPECT_EQ(copy.err, "");
  // The uncompressed copy holds the same pixels.
  TIFF* tif = TIFFOpen(Path("copy.tif").c_str(), "r");
  ASSERT_NE(tif, nullptr);
  EXPECT_EQ(TIFFNumberOfDirectories(tif), 3);
  ASSERT_EQ(TIFFSetDirectory(tif, 2), 1);
  Bytes row(216), page;
  for (uint32_t y = 0; y < kLines; ++y) {
    ASSERT_EQ(TIFFReadScanline(tif, row.data(), y, 0), 1);
    page.insert(page.end(), row.begin(), row.end());
  }
  EXPECT_EQ(page, bitmaps[2]);
  TIFFClose(tif);

  const ToolRun pdf = Tool("tiff2pdf -o " + Path("out.pdf") + " " + path);
  EXPECT_EQ(pdf.status, 0);
  EXPECT_EQ(pdf.err, "");
  EXPECT_EQ(test::Sandbox::readFile(Path("out.pdf")).substr(0, 5), "%PDF-");
}

// A received page in which no line came through (noise, or nothing at all)
// must not make libtiff refuse the whole fax: it stays a page, white.
TEST_F(LibtiffInterop, AReceivedPageWithoutLinesLeavesTheFileReadable) {
  const Bytes bitmap = test::TextPage(1728, kLines, 7);
  Bytes good = test::EncodePage(bitmap, 1728, kLines);
  Bytes noise = {0xA5, 0x3C, 0xFF, 0x12};
  Bytes empty;
  {
    TiffWriter w;
    w.Open(Path("rx.fax"));
    for (Bytes* page : {&noise, &good, &empty}) {
      PageDescriptor d;
      w.WriteReceivedPage(d, page->data(), static_cast<uint32_t>(page->size()));
    }
    w.Close();
  }
  const ToolRun info = Tool("tiffinfo -D " + Path("rx.fax"));
  EXPECT_EQ(info.status, 0);
  EXPECT_EQ(info.err, "");
  TIFFSetWarningHandler(nullptr);
  TIFF* tif = TIFFOpen(Path("rx.fax").c_str(), "r");
  ASSERT_NE(tif, nullptr);
  ASSERT_EQ(TIFFNumberOfDirectories(tif), 3);
  const uint32_t lengths[] = {1, kLines, 1};
  for (uint16_t page = 0; page < 3; ++page) {
    ASSERT_EQ(TIFFSetDirectory(tif, page), 1);
    uint32_t length = 0;
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &length);
    ASSERT_EQ(length, lengths[page]) << "page " << page;
    Bytes decoded(216 * length);
    ASSERT_EQ(TIFFReadEncodedStrip(tif, 0, decoded.data(), static_cast<tmsize_t>(decoded.size())),
              static_cast<tmsize_t>(decoded.size()));
    if (page == 1)
      EXPECT_EQ(decoded, bitmap);
    else
      EXPECT_EQ(decoded, Bytes(216, 0)) << "page " << page;
  }
  TIFFClose(tif);
}

TEST_F(LibtiffInterop, WeReadPagesThatLibtiffCodes) {
  const Bytes bitmap = test::TextPage(1728, kLines, 99);
  TIFF* tif = TIFFOpen(Path("theirs.fax").c_str(), "w");
  ASSERT_NE(tif, nullptr);
  for (uint16_t page = 0; page < 2; ++page) {
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 1728);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kLines);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, GROUP3OPT_FILLBITS);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_FILLORDER, page == 0 ? FILLORDER_LSB2MSB : FILLORDER_MSB2LSB);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, kLines);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, 204.0);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, 196.0);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tif, TIFFTAG_PAGENUMBER, page, 2);
    TIFFSetField(tif, TIFFTAG_SOFTWARE, "libtiff");
    for (uint32_t y = 0; y < kLines; ++y)
      ASSERT_EQ(TIFFWriteScanline(tif, const_cast<uint8_t*>(&bitmap[216 * y]), y, 0), 1);
    ASSERT_EQ(TIFFWriteDirectory(tif), 1);
  }
  TIFFClose(tif);

  TiffReader r;
  uint16_t count = 0;
  PageDescriptor d;
  r.Open(Path("theirs.fax"), count, d);
  ASSERT_EQ(count, 2);
  Bytes expected = bitmap;
  for (auto& b : expected) b = static_cast<uint8_t>(~b);  // white bits are 1
  for (uint16_t page = 0; page < 2; ++page) {
    uint16_t index = page;
    const uint8_t* pixels = nullptr;
    uint32_t size = 0;
    ASSERT_TRUE(r.ReadPageBitmap(kPageAtIndex, index, d, pixels, size));
    EXPECT_EQ(d.fillOrder, page == 0 ? 2u : 1u);
    EXPECT_EQ(Bytes(pixels, pixels + size), expected) << "page " << page;
  }
}

}  // namespace
}  // namespace korvo
