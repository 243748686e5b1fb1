#include "capture/raster_stream.h"

#include <cups/raster.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace korvo::capture {

namespace {

bool PixelBlack(const uint8_t* row, const RowFormat& format, uint32_t x) {
  if (format.bitsPerPixel == 8) return (row[x] >= 128) == format.oneIsBlack;
  const bool set = (row[x / 8] >> (7 - x % 8)) & 1;
  return set == format.oneIsBlack;
}

struct RasterCloser {
  void operator()(cups_raster_t* r) const { cupsRasterClose(r); }
};

}  // namespace

void PlaceRow(const uint8_t* row, const RowFormat& format, uint8_t* line) {
  std::fill(line, line + kPrintLineBytes, 0);
  // The paper centred on the line: a narrower one starts right of the
  // line's start, a wider one is read from right of its own start.
  const uint32_t paper = std::max(format.paperWidth, format.left + format.width);
  const int64_t shift = paper < kFaxWidth ? (kFaxWidth - paper) / 2 : -static_cast<int64_t>((paper - kFaxWidth) / 2);
  for (uint32_t i = 0; i < format.width; ++i) {
    const int64_t x = shift + format.left + i;
    if (x < 0) continue;
    if (x >= kFaxWidth) break;
    if (PixelBlack(row, format, i)) line[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
  }
}

const char* PaperWord(uint32_t widthPoints, uint32_t heightPoints) {
  struct Paper {
    uint32_t width, height;
    const char* word;
  };
  static constexpr Paper kPapers[] = {{595, 842, "A4"}, {612, 792, "LT"}, {612, 1008, "LG"}};
  for (const auto& p : kPapers)
    if (p.width == widthPoints && p.height == heightPoints) return p.word;
  return nullptr;
}

int ConvertRaster(int fd, PrintStreamWriter& out, std::string& error) {
  std::unique_ptr<cups_raster_t, RasterCloser> raster(cupsRasterOpen(fd, CUPS_RASTER_READ));
  if (!raster) {
    error = "cannot read the raster stream";
    return -1;
  }
  cups_page_header2_t header;
  int pages = 0;
  std::vector<uint8_t> row;
  uint8_t line[kPrintLineBytes];
  while (cupsRasterReadHeader2(raster.get(), &header)) {
    RowFormat format;
    format.width = header.cupsWidth;
    format.bitsPerPixel = header.cupsBitsPerPixel;
    switch (header.cupsColorSpace) {
      case CUPS_CSPACE_K:
        format.oneIsBlack = true;
        break;
      case CUPS_CSPACE_W:
      case CUPS_CSPACE_SW:
        format.oneIsBlack = false;
        break;
      default:
        error = "colour space " + std::to_string(header.cupsColorSpace) + " is not black and white";
        return -1;
    }
    if (format.bitsPerPixel != 1 && format.bitsPerPixel != 8) {
      error = std::to_string(format.bitsPerPixel) + " bits a pixel (1 or 8 expected)";
      return -1;
    }
    const uint64_t need = (static_cast<uint64_t>(format.width) * format.bitsPerPixel + 7) / 8;
    if (format.width == 0 || header.cupsBytesPerLine < need) {
      error = "raster lines of " + std::to_string(header.cupsBytesPerLine) + " bytes for " +
              std::to_string(format.width) + " pixels";
      return -1;
    }
    if (header.cupsBytesPerLine > kMaxLineBytes) {
      error = "page " + std::to_string(pages + 1) + " has lines of " + std::to_string(header.cupsBytesPerLine) +
              " bytes, more than the " + std::to_string(kMaxLineBytes) + " a fax line is made from";
      return -1;
    }
    // Where the imageable area lies on the paper (points, from the paper's
    // lower left corner); a raster without them covers the whole paper.
    const auto dots = [](uint64_t points, uint32_t resolution) { return points * resolution / 72; };
    const uint32_t xres = header.HWResolution[0], yres = header.HWResolution[1];
    const uint64_t left = dots(header.Margins[0], xres);
    const uint64_t top = header.ImagingBoundingBox[3] > 0 && header.ImagingBoundingBox[3] < header.PageSize[1]
                             ? dots(header.PageSize[1] - header.ImagingBoundingBox[3], yres)
                             : 0;
    const uint64_t lines = std::max<uint64_t>(dots(header.PageSize[1], yres), top + header.cupsHeight);
    if (lines > kMaxPageLines) {
      error = "page " + std::to_string(pages + 1) + " has " + std::to_string(lines) + " lines, more than the " +
              std::to_string(kMaxPageLines) + " of a fax page";
      return -1;
    }
    const uint64_t paper = std::max<uint64_t>(dots(header.PageSize[0], xres), left + format.width);
    if (paper > 2 * kFaxWidth) {
      error = "page " + std::to_string(pages + 1) + " is " + std::to_string(paper) +
              " pixels wide, more than a fax line is made from";
      return -1;
    }
    format.left = static_cast<uint32_t>(left);
    format.paperWidth = static_cast<uint32_t>(paper);
    row.resize(header.cupsBytesPerLine);
    if (pages == 0) out.Word("BD");
    if (const char* word = PaperWord(header.PageSize[0], header.PageSize[1])) out.Word(word);
    out.BeginPage();
    std::fill(line, line + kPrintLineBytes, 0);
    for (uint64_t y = 0; y < top; ++y) out.Line(line);
    for (uint32_t y = 0; y < header.cupsHeight; ++y) {
      if (cupsRasterReadPixels(raster.get(), row.data(), header.cupsBytesPerLine) != header.cupsBytesPerLine) {
        error = "the raster ends inside page " + std::to_string(pages + 1);
        return -1;
      }
      PlaceRow(row.data(), format, line);
      out.Line(line);
    }
    std::fill(line, line + kPrintLineBytes, 0);
    for (uint64_t y = top + header.cupsHeight; y < lines; ++y) out.Line(line);
    out.EndPage();
    ++pages;
  }
  if (pages > 0) out.Word("ED");
  return pages;
}

}  // namespace korvo::capture
