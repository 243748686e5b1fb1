// The fax printer's driver: CUPS raster pages (from the standard filters of
// cups-filters) become the page stream that the capture hands to the Send
// Fax dialog. A raster covers the page's imageable area; it is put in its
// place on the whole paper, with white margins around it, and every page is
// 1728 pixels wide: a narrower paper is centred between white margins, a
// wider one is cut evenly on both sides.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/print_stream_writer.h"

namespace korvo::capture {

inline constexpr uint32_t kFaxWidth = kPrintLineBytes * 8;
// The most a fax page holds: the longest paper the printer offers (Legal,
// 14 in) at the finest line rate a raster comes in (200 lines an inch), and
// paper and raster lines of up to twice the fax line's pixels (at 8 bits,
// as many bytes). A page beyond
// either is refused from its header, before a line is read: a crafted header
// must not keep the printer busy for hours or ask for gigabytes.
inline constexpr uint32_t kMaxPageLines = 14 * 200;
inline constexpr uint32_t kMaxLineBytes = 2 * kFaxWidth;

// How one raster row maps onto a fax line.
struct RowFormat {
  uint32_t width = 0;         // pixels in the raster row
  uint32_t bitsPerPixel = 1;  // 1 or 8
  bool oneIsBlack = true;     // 1-bit: a set bit is black; 8-bit: 255 is black
  uint32_t left = 0;          // white pixels of the paper left of the row
  uint32_t paperWidth = 0;    // the paper's pixels (at least left + width)
};

// Places one raster row onto a fax line of kPrintLineBytes bytes (bit 1
// black, most significant bit first). An 8-bit pixel is black from half
// way.
void PlaceRow(const uint8_t* row, const RowFormat& format, uint8_t* line);

// The paper word of a page of the given size in points, or nullptr for a
// size the printer does not offer.
const char* PaperWord(uint32_t widthPoints, uint32_t heightPoints);

// Reads CUPS raster from the descriptor and writes the stream: "BD", then
// per page its paper word, "BP", the lines, "EP", and "ED" at the end. A
// raster without pages writes nothing. Returns the page count, or -1 with the
// reason in error for a raster this printer cannot take.
int ConvertRaster(int fd, PrintStreamWriter& out, std::string& error);

}  // namespace korvo::capture
