// A source of print jobs in the fax printer's page stream, for tests and the
// demonstration: pages of 1728-pixel lines at 196 lines per inch, written as
// the two-letter records the print stream conversion reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/print_stream_writer.h"

namespace korvo::tools {

inline constexpr uint32_t kStreamLineBytes = kPrintLineBytes;
inline constexpr uint32_t kA4Lines = 2292;         // 297 mm at 196 lines per inch
inline constexpr uint32_t kLetterLines = 2156;     // 11 inches

enum class Paper { A4, Letter };

// A page: rows of kStreamLineBytes bytes, most significant bit first, bit 1
// black.
using PageRows = std::vector<uint8_t>;

class PrnStreamWriter {
 public:
  PrnStreamWriter() = default;
  PrnStreamWriter(const PrnStreamWriter&) = delete;
  PrnStreamWriter& operator=(const PrnStreamWriter&) = delete;

  // "BD" and the paper word.
  void BeginDocument(Paper paper);
  // "BP", the page's lines, "EP". Runs of white rows become "CF" records: a
  // "CF" n right after a line moves down n lines counting that line, anywhere
  // else it is n blank lines; n is at most 255.
  void Page(const PageRows& rows);
  // "ED".
  void EndDocument();

  const std::string& Bytes() const { return bytes_; }

 private:
  std::string bytes_;
  PrintStreamWriter writer_{[this](std::string_view piece) { bytes_.append(piece); }};
};

uint32_t PageLines(Paper paper);

// Text set in 12 pt Times New Roman with one-inch margins at the top and the
// bottom; each line of the text is printed from the left margin, wrapped at
// blanks where it would pass the right one (a word longer than a whole line
// is broken where it must be), tabs are eight columns, a form feed starts a
// page.
// An empty text is one blank page.
std::vector<PageRows> RenderTextPages(const std::string& text, uint32_t pageLines);

// A PBM image (P1 or P4, at most 1728 pixels wide) placed at the top left,
// cut into pages of pageLines rows. False with the reason for anything else.
bool PbmPages(const std::string& pbm, uint32_t pageLines, std::vector<PageRows>& pages, std::string& error);

}  // namespace korvo::tools
