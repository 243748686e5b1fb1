// Checks and reads fax image files page by page, joins a replacement first
// page with a document, and counts pages.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "common/bits.h"
#include "common/page_descriptor.h"
#include "common/status.h"

namespace korvo {

// TIFF field types.
inline constexpr uint16_t kTiffAscii = 2;
inline constexpr uint16_t kTiffShort = 3;
inline constexpr uint16_t kTiffLong = 4;
inline constexpr uint16_t kTiffRational = 5;
inline constexpr uint16_t kTiffShortOrLong = 200;  // expected type: either

// Page targets of ReadPage.
inline constexpr uint32_t kPageAtIndex = 0;
inline constexpr uint32_t kPageFirst = 1;
inline constexpr uint32_t kPageLast = 2;
inline constexpr uint32_t kPageNext = 3;
inline constexpr uint32_t kPagePrevious = 4;

// One expected directory entry and the value read from it.
class TiffTagSpec {
 public:
  enum class Kind { Long, Short, ShortOrLong, Rational, PageNumber, Ascii };

  TiffTagSpec(uint16_t tag, uint16_t type, uint32_t count, Kind kind)
      : tag_(tag), type_(type), count_(count), kind_(kind) {}

  // Checks the 12-byte entry (TiffException 2) and takes its value; values
  // stored elsewhere are read from the file.
  void Accept(const uint8_t* entry, std::FILE* file);
  void Reset();

  uint16_t Tag() const { return tag_; }
  bool Found() const { return found_; }
  uint32_t Value() const { return value_; }
  uint32_t Numerator() const { return value_; }
  uint32_t Denominator() const { return second_; }
  uint16_t Index() const { return static_cast<uint16_t>(value_); }
  uint16_t Total() const { return static_cast<uint16_t>(second_); }
  const std::string& Text() const { return text_; }

 private:
  uint16_t tag_;
  uint16_t type_;
  uint32_t count_;  // 0: any
  Kind kind_;
  bool found_ = false;
  bool taken_ = false;
  uint32_t value_ = 0;
  uint32_t second_ = 0;
  std::string text_;
};

// The entries a fax page must have.
class TiffDirectory {
 public:
  TiffDirectory();
  // Walks the entries in file order: TiffException 1 when the tags do not
  // rise, 2 for a wrong type or count, 3 when an expected entry is missing.
  void Load(const uint8_t* entries, uint32_t count, std::FILE* file);
  void Reset();
  // The spec of an expected tag (nullptr for others).
  const TiffTagSpec* Find(uint16_t tag) const;
  const TiffTagSpec& operator[](uint16_t tag) const { return *Find(tag); }

 private:
  static constexpr uint16_t kFirstTag = 254;
  static constexpr uint16_t kLastTag = 316;
  std::vector<TiffTagSpec> specs_;
  int slot_[kLastTag - kFirstTag + 1];
};

// Malformed files raise TiffException, short reads (also offsets or counts
// past the end of the file) FileReadingException; a file that cannot be
// opened raises std::system_error.
class TiffReader {
 public:
  TiffReader();
  ~TiffReader();
  TiffReader(const TiffReader&) = delete;
  TiffReader& operator=(const TiffReader&) = delete;

  void Open(const std::string& path, uint16_t& pageCount, PageDescriptor& descriptor);
  // The page's coded data, owned by the reader until the next page or Close.
  // False when the target is not a page of the file.
  bool ReadPage(uint32_t mode, uint16_t& index, PageDescriptor& descriptor, const uint8_t*& data,
                uint32_t& byteCount);
  // The page decoded into a bitmap, msb first, white bits 1, each row padded
  // to an even number of bytes.
  bool ReadPageBitmap(uint32_t mode, uint16_t& index, PageDescriptor& descriptor, const uint8_t*& bitmap,
                      uint32_t& size);
  void Close();
  bool IsOpen() const { return open_; }

 private:
  struct Page {
    PageDescriptor descriptor;
    uint32_t stripOffset = 0;
    uint32_t stripBytes = 0;
    uint16_t index = 0;
    uint16_t total = 0;
  };
  Page ReadDirectory(uint32_t offset);
  void Seek(uint32_t offset);
  void ReadExact(void* buffer, uint32_t size);

  TiffDirectory directory_;
  std::FILE* file_ = nullptr;
  uint64_t fileSize_ = 0;
  bool open_ = false;
  uint32_t firstIfd_ = 0;
  uint32_t nextIfd_ = 0;
  uint16_t pageCount_ = 0;
  std::vector<uint8_t> strip_;
  std::unique_ptr<BitBuffer> bitmap_;
};

// A fax image whose page 0 may come from a separate file (a cover page drawn
// for one recipient) in place of the document's own first page.
class FaxImagePair {
 public:
  // An empty first path means the second file alone.
  FaxImagePair(const std::string& firstPath, const std::string& secondPath);

  void CountPages(uint16_t& count, PageDescriptor& descriptor);
  bool ReadPage(uint32_t mode, uint16_t& index, PageDescriptor& descriptor, const uint8_t*& data,
                uint32_t& size);
  void Close();

 private:
  TiffReader first_;
  TiffReader second_;
  std::string firstPath_;
  std::string secondPath_;
  bool twoFiles_;
  uint16_t pageCount_ = 0;
};

// Writes the pair as one file; 0, or kStatusCreateFaxImage when anything fails
// (the output is then removed).
Status MergeFaxImages(const std::string& firstPath, const std::string& secondPath, const std::string& outputPath);

// The page count of a fax image, 0 when it cannot be read.
uint16_t CountTiffPages(const std::string& path);

}  // namespace korvo
