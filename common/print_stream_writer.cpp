#include "common/print_stream_writer.h"

#include <algorithm>

namespace korvo {

void PrintStreamWriter::BeginPage() {
  Word("BP");
  blank_ = 0;
  afterLine_ = false;
}

void PrintStreamWriter::PutBlank() {
  while (blank_ > 0) {
    const uint32_t n = std::min<uint32_t>(afterLine_ ? blank_ + 1 : blank_, 255);
    const char record[3] = {'C', 'F', static_cast<char>(n)};
    sink_(std::string_view(record, 3));
    blank_ -= afterLine_ ? n - 1 : n;
    afterLine_ = false;
  }
}

void PrintStreamWriter::Line(const uint8_t* row) {
  if (std::all_of(row, row + kPrintLineBytes, [](uint8_t b) { return b == 0; })) {
    ++blank_;
    return;
  }
  PutBlank();
  const char head[4] = {'B', 'L', static_cast<char>(kPrintLineBytes & 0xFF), static_cast<char>(kPrintLineBytes >> 8)};
  sink_(std::string_view(head, 4));
  sink_(std::string_view(reinterpret_cast<const char*>(row), kPrintLineBytes));
  afterLine_ = true;
}

void PrintStreamWriter::EndPage() {
  PutBlank();
  Word("EP");
}

}  // namespace korvo
