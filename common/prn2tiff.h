// Conversion of the fax printer's page stream into a fax image file: every
// printed page becomes one TIFF page of modified Huffman data at 204 x 196
// dots per inch.
//
// The stream is a sequence of records, each a two-letter word followed by
// its fields (little-endian). Between pages: "BP" a page follows, "ED" end of
// document; inside a page: "BL" <16-bit length 216> <216 bytes> one line of
// 1728 pixels (most significant bit first, bit 1 black), "CF" <byte n> blank
// lines, "EP" end of page. Every other word ("BD", the paper words, "NR",
// anything unknown) is two bytes to skip.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "common/imaging_exceptions.h"
#include "common/status.h"
#include "common/stream.h"
#include "common/tiff_writer.h"

namespace korvo {

// The writer of the Send Fax road: its pages carry the name "KV Fax Server".
class FaxServerTiffWriter : public TiffWriter {
 public:
  std::string SoftwareName() const override;
};

// Codes of PrnTiffException.
inline constexpr uint32_t kPrnWrongHeader = 0;
inline constexpr uint32_t kPrnUnexpectedCommand = 1;
inline constexpr uint32_t kPrnWrongLineLength = 2;
// More lines than a page can describe (its length is a 16-bit count).
inline constexpr uint32_t kPrnPageTooLong = 3;

class PrnTiffException : public Exception {
 public:
  explicit PrnTiffException(uint32_t code) : code_(code) {}
  uint32_t Code() const { return code_; }
  std::string Text() const override;

 private:
  uint32_t code_;
};

// Drives one document: Open, then NextPage and, while it returns 0,
// ConvertPage, until one of them returns non-zero; kStatusEndOfPrnDocument
// from NextPage is the successful end. On every other non-zero result the
// image file is closed with the pages completed so far, so it stays a valid
// fax file.
class Prn2Tiff {
 public:
  Prn2Tiff() = default;
  ~Prn2Tiff();
  Prn2Tiff(const Prn2Tiff&) = delete;
  Prn2Tiff& operator=(const Prn2Tiff&) = delete;

  // 0, or kStatusOpenPrnOrTiff when either file cannot be opened.
  Status Open(const std::string& printPath, const std::string& imagePath);
  // The same into an open image file, written through its handle.
  Status Open(const std::string& printPath, TextFile& image);
  // Skips to the next page: 0 at "BP", kStatusEndOfPrnDocument at "ED",
  // kStatusNextPrnPage when the stream cannot be read.
  Status NextPage();
  // Appends the page that follows "BP": 0 or kStatusPrnToTiff.
  Status ConvertPage();

  // The image file's writer, for a cover page ahead of the document's pages.
  TiffWriter& Writer() { return writer_; }

 private:
  void ReadExact(void* buffer, size_t size);
  uint16_t ReadWord();
  // Closes the image file (page totals written) and the print file.
  void Shut();
  Status OpenWith(const std::string& printPath, const std::function<void()>& openImage);

  std::FILE* print_ = nullptr;
  FaxServerTiffWriter writer_;
};

}  // namespace korvo
