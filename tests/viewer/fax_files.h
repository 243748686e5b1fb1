// Fax files for the viewer's tests: pages of text-like rows in any of the
// fax widths and resolutions, and the page numbers a file writes into its
// pages, changed afterwards.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/tiff_writer.h"
#include "tests/common/fax_pages.h"
#include "tests/support/sandbox.h"

namespace korvo::test {

struct FaxPage {
  uint16_t width = 1728;
  uint16_t lines = 300;
  uint16_t yResolution = 196;
  uint32_t seed = 1;
};

// The page's pixels as the viewer holds them: a set bit white, rows padded
// to an even number of bytes.
inline std::vector<uint8_t> ViewerRows(const FaxPage& p) {
  const std::vector<uint8_t> black = TextPage(p.width, p.lines, p.seed);
  const uint32_t bytes = (p.width + 7) / 8, stride = bytes + bytes % 2;
  std::vector<uint8_t> rows(static_cast<size_t>(stride) * p.lines, 0xFF);
  for (uint32_t y = 0; y < p.lines; ++y)
    for (uint32_t b = 0; b < bytes; ++b) rows[static_cast<size_t>(y) * stride + b] = static_cast<uint8_t>(~black[y * bytes + b]);
  return rows;
}

inline std::string WriteFax(const std::string& path, const std::vector<FaxPage>& pages) {
  TiffWriter w;
  w.Open(path);
  for (const FaxPage& p : pages) {
    const std::vector<uint8_t> coded = p.lines ? EncodePage(TextPage(p.width, p.lines, p.seed), p.width, p.lines)
                                               : std::vector<uint8_t>{};
    PageDescriptor d;
    d.width = p.width;
    d.length = p.lines;
    d.yResolution = p.yResolution;
    w.WritePage(d, coded.data(), static_cast<uint32_t>(coded.size()));
  }
  w.Close();
  return path;
}

inline std::string WriteFax(const std::string& path, int pages) {
  std::vector<FaxPage> list;
  for (int i = 0; i < pages; ++i) list.push_back({1728, 300, 196, static_cast<uint32_t>(i + 1)});
  return WriteFax(path, list);
}

// Writes `index` as the page's own number into page i's PageNumber entry.
inline void SetPageNumbers(const std::string& path, const std::vector<uint16_t>& indexes) {
  std::string f = Sandbox::readFile(path);
  const auto get16 = [&](size_t at) { return static_cast<uint16_t>(static_cast<uint8_t>(f[at]) | static_cast<uint8_t>(f[at + 1]) << 8); };
  const auto get32 = [&](size_t at) { return get16(at) | static_cast<uint32_t>(get16(at + 2)) << 16; };
  uint32_t ifd = get32(4);
  for (uint16_t index : indexes) {
    for (uint32_t i = 0; i < get16(ifd); ++i) {
      const size_t e = ifd + 2 + 12 * i;
      if (get16(e) == 297) {
        f[e + 8] = static_cast<char>(index);
        f[e + 9] = static_cast<char>(index >> 8);
      }
    }
    ifd = get32(ifd + 2 + 12 * get16(ifd));
  }
  Sandbox::writeFile(path, f);
}

}  // namespace korvo::test
