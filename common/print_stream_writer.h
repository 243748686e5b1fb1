// Writes the fax printer's page stream (the records Prn2Tiff reads) as it
// goes, line by line, so a whole document never has to be held in memory.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

namespace korvo {

inline constexpr uint32_t kPrintLineBytes = 216;  // 1728 pixels

class PrintStreamWriter {
 public:
  // Receives every piece of the stream in order.
  using Sink = std::function<void(std::string_view)>;
  explicit PrintStreamWriter(Sink sink) : sink_(std::move(sink)) {}

  // A record without fields: "BD", a paper word ("A4", "LT", "LG"), "ED".
  void Word(const char* word) { sink_(std::string_view(word, 2)); }
  // "BP".
  void BeginPage();
  // One row of kPrintLineBytes bytes, most significant bit first, bit 1
  // black. White rows become "CF" runs: a "CF" n right after a line moves
  // down n lines counting that line, anywhere else it is n blank lines; n is
  // at most 255.
  void Line(const uint8_t* row);
  // The page's last white run, then "EP".
  void EndPage();

 private:
  void PutBlank();

  Sink sink_;
  uint32_t blank_ = 0;
  bool afterLine_ = false;
};

}  // namespace korvo
