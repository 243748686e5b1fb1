// Fax pages as the capture tests check them: a document rendered as the fax
// printer's queue renders it (cupsfilter with its PPD into CUPS raster), and
// fax TIFF files read back with libtiff, row by row.
#pragma once

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/prn2tiff.h"
#include "tests/capture/documents.h"
#include "tests/capture/programs.h"
#include "tests/support/sandbox.h"
#include "tests/support/system_program.h"

namespace korvo::test {

inline std::string FaxPrinterPpd() { return (SourceDir() / "capture" / "Korvo_Printer.ppd").string(); }

// One fax page: rows of 216 bytes, bit 1 black.
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
  uint32_t InkOfRows(uint32_t from, uint32_t to) const {
    uint32_t n = 0;
    for (uint32_t y = from; y < to && y < length; ++y) n += InkOfRow(y);
    return n;
  }
};

// Every page of the file; a page that is not 1728 pixels wide or cannot be
// read has no rows.
inline std::vector<TiffPage> ReadTiff(const std::filesystem::path& path) {
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
    if (p.width == 1728) {
      p.rows.resize(static_cast<size_t>(216) * p.length);
      for (uint32_t y = 0; y < p.length; ++y)
        if (TIFFReadScanline(tif, p.rows.data() + static_cast<size_t>(216) * y, y) < 0) {
          p.rows.clear();
          break;
        }
    }
    if (photometric == PHOTOMETRIC_MINISBLACK)
      for (auto& b : p.rows) b = static_cast<uint8_t>(~b);
    pages.push_back(std::move(p));
  } while (TIFFReadDirectory(tif));
  TIFFClose(tif);
  return pages;
}

// cupsfilter of the document into CUPS raster with the fax printer's PPD;
// its messages go to `log`.
inline void Rasterise(const std::filesystem::path& pdf, const Paper& paper, const std::filesystem::path& raster,
                      const std::filesystem::path& log, const std::filesystem::path& temp) {
  const int rc = RunProgram({{SystemProgram("cupsfilter"), "-p", FaxPrinterPpd(), "-m", "application/vnd.cups-raster",
                              "-o", std::string("PageSize=") + paper.name, pdf.string()},
                             "/dev/null",
                             raster,
                             log,
                             {"TMPDIR=" + temp.string()}});
  ASSERT_EQ(rc, 0) << Sandbox::readFile(log);
  ASSERT_GT(std::filesystem::file_size(raster), 0u);
}

// The Send Fax road's conversion of a page stream into a fax file.
inline void StreamToFax(const std::filesystem::path& stream, const std::filesystem::path& fax) {
  Prn2Tiff convert;
  ASSERT_EQ(convert.Open(stream.string(), fax.string()), 0u);
  Status status;
  while ((status = convert.NextPage()) == 0) ASSERT_EQ(convert.ConvertPage(), 0u);
  ASSERT_EQ(status, 0x400017D4u);  // the end of the stream
}

}  // namespace korvo::test
