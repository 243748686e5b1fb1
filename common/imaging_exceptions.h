// Exceptions of the fax imaging code. They are raised as heap objects
// (`throw new TiffException(4)`) and caught by pointer at a page or document
// boundary, where the catcher shows Text() and deletes the object.
#pragma once

#include <cstdint>
#include <string>

namespace korvo {

class Exception {
 public:
  virtual ~Exception() = default;
  virtual std::string Text() const = 0;
};

// Inside a catch (...) at a page or document boundary: traces the text of
// whatever is being handled ("Unexpected exception" for unknown kinds) and
// deletes an imaging exception.
void TraceCaughtException();

// A write past the end of a buffer that may not grow.
class BitArrayException : public Exception {
 public:
  std::string Text() const override;
};

// Codes of HuffmanException.
inline constexpr uint32_t kHuffmanBadWidth = 1;   // the runs of a line do not add up to the width
inline constexpr uint32_t kHuffmanEmptyLine = 2;  // a line to encode is empty

class HuffmanException : public Exception {
 public:
  explicit HuffmanException(uint32_t code) : code_(code) {}
  uint32_t Code() const { return code_; }
  std::string Text() const override;

 private:
  uint32_t code_;
};

// An exact read that got fewer bytes than asked for.
class FileReadingException : public Exception {
 public:
  std::string Text() const override;
};

// Codes of TiffException.
inline constexpr uint32_t kTiffBadHeader = 0;
inline constexpr uint32_t kTiffTagOrder = 1;      // entries not in strictly rising tag order
inline constexpr uint32_t kTiffTagFormat = 2;     // an expected entry with another type or count
inline constexpr uint32_t kTiffTagMissing = 3;    // an expected entry is missing
inline constexpr uint32_t kTiffNotFaxPage = 4;
inline constexpr uint32_t kTiffZeroOffset = 5;    // a directory offset of 0

class TiffException : public Exception {
 public:
  explicit TiffException(uint32_t code) : code_(code) {}
  uint32_t Code() const { return code_; }
  std::string Text() const override;

 private:
  uint32_t code_;
};

}  // namespace korvo
