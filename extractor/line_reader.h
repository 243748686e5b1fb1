// Line input of Numsnip: a line ends at CR LF, LF or a lone CR, and its end is
// not part of it; a last line without an end counts, an empty input has no
// lines. Bytes are kept as read (NUL, 0x1A, bytes that are not UTF-8) and
// lines of any length are never cut.
#pragma once

#include <istream>
#include <string>
#include <vector>

namespace korvo::numsnip {

class LineReader {
 public:
  // Reads `in` through a buffer of `bufferSize` bytes.
  explicit LineReader(std::istream& in, size_t bufferSize = 64 * 1024);

  // The next line; false at the end of the input or on a read error (see failed()).
  bool Next(std::string& line);
  // True when reading stopped for an error rather than the end of the input.
  bool failed() const { return failed_; }

 private:
  bool Fill();

  std::istream& in_;
  std::vector<char> buffer_;
  size_t pos_ = 0, end_ = 0;
  bool eof_ = false, failed_ = false;
  bool afterCr_ = false;  // the last line ended at CR: a LF that follows belongs to it
};

}  // namespace korvo::numsnip
