// Writes fax image files: little-endian multi-page TIFF, one strip of
// modified Huffman data per page.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/page_descriptor.h"
#include "platform/file_io.h"

namespace korvo {

// File errors (cannot create, cannot write, file past 4 GB) are raised as
// std::system_error.
class TiffWriter {
 public:
  TiffWriter();
  virtual ~TiffWriter();
  TiffWriter(const TiffWriter&) = delete;
  TiffWriter& operator=(const TiffWriter&) = delete;

  // Creates or truncates the file and writes the header.
  void Open(const std::string& path);
  // The same into an open file of that name (from its start; it is not
  // opened by name again).
  void Open(platform::Handle file, const std::string& name);
  // Appends one page; the coded data is stored unchanged.
  void WritePage(const PageDescriptor& descriptor, const uint8_t* data, uint32_t byteCount);
  // Data received from a remote fax: whatever comes before the first EOL is
  // cleared, and when the page's end is found the length becomes its line
  // count and nothing after the RTC is stored.
  void WriteReceivedPage(PageDescriptor& descriptor, uint8_t* data, uint32_t byteCount);
  // Writes the page total into every page; a file is only complete after this.
  void Close();

  // The name written as Software.
  virtual std::string SoftwareName() const;
  uint32_t PagesWritten() const { return pagesWritten_; }
  bool IsOpen() const { return open_; }

 private:
  // Takes the stream just opened: writes the header.
  void Start(const std::string& path);
  void Write(const void* data, size_t size);
  void WriteAt(uint32_t offset, const void* data, size_t size);
  void PadToEven();
  uint32_t Position() const { return position_; }

  std::FILE* file_ = nullptr;
  std::string path_;
  bool open_ = false;
  uint32_t position_ = 0;
  uint32_t linkPosition_ = 0;
  std::vector<uint32_t> totalPositions_;
  uint32_t pagesWritten_ = 0;
};

}  // namespace korvo
