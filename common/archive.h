// The framework archive encodings the persistent classes write: little-endian
// int, DWORD, WORD and BYTE, the length-prefixed string and the element count.
// One object either stores into a byte buffer or loads from one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace korvo {

// Raised when a loading archive runs out of bytes (a short or damaged file).
class ArchiveException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Archive {
 public:
  // A storing archive with an empty buffer.
  Archive();
  // A loading archive over the given bytes (copied).
  explicit Archive(std::string_view bytes);

  // A storing archive that writes into buffer's storage, emptied first: a
  // buffer kept between encodings is not grown again each time.
  static Archive StoringInto(std::string buffer);

  bool IsStoring() const { return storing_; }
  bool IsLoading() const { return !storing_; }
  // Everything stored so far (a loading archive: all its bytes).
  std::string_view Bytes() const { return {data_.data(), storing_ ? used_ : data_.size()}; }
  // Hands everything stored over, leaving the archive empty.
  std::string TakeBytes();
  // Bytes a loading archive has not read yet.
  std::size_t Remaining() const { return data_.size() - pos_; }

  void WriteInt(int32_t value) { WriteDword(static_cast<uint32_t>(value)); }
  void WriteDword(uint32_t value);
  void WriteWord(uint16_t value);
  void WriteByte(uint8_t value);
  // Length byte; 0xFF and a 16-bit length from 255 on; 0xFF, 0xFFFF and a
  // 32-bit length from 0xFFFE on; then the characters without NUL.
  void WriteString(std::string_view text);
  // 16-bit count; 0xFFFF and a 32-bit count from 0xFFFF on.
  void WriteCount(uint32_t count);

  int32_t ReadInt() { return static_cast<int32_t>(ReadDword()); }
  uint32_t ReadDword();
  uint16_t ReadWord();
  uint8_t ReadByte();
  std::string ReadString();
  uint32_t ReadCount();

  // The MFC-style operators, so Serialize can read or write one field list.
  void Transfer(int32_t& v) { if (storing_) WriteInt(v); else v = ReadInt(); }
  void Transfer(uint32_t& v) { if (storing_) WriteDword(v); else v = ReadDword(); }
  void Transfer(uint16_t& v) { if (storing_) WriteWord(v); else v = ReadWord(); }
  void Transfer(uint8_t& v) { if (storing_) WriteByte(v); else v = ReadByte(); }
  void Transfer(std::string& v) { if (storing_) WriteString(v); else v = ReadString(); }

 private:
  void Take(void* out, std::size_t n);
  uint32_t ReadLe(std::size_t n);
  // Lists of thousands of records are encoded on every save: a value is
  // stored as one word into room made ahead, not appended byte by byte.
  void WriteLe(uint32_t value, std::size_t n) {
    unsigned char* p = Room(4);
    p[0] = static_cast<unsigned char>(value);
    p[1] = static_cast<unsigned char>(value >> 8);
    p[2] = static_cast<unsigned char>(value >> 16);
    p[3] = static_cast<unsigned char>(value >> 24);
    used_ += n;
  }
  // At least n bytes of room after the stored ones.
  unsigned char* Room(std::size_t n) {
    if (data_.size() - used_ < n) Grow(n);
    return reinterpret_cast<unsigned char*>(data_.data()) + used_;
  }
  void Grow(std::size_t n);

  bool storing_;
  // Storing: the buffer, of which the first used_ bytes are stored.
  std::string data_;
  std::size_t used_ = 0;
  std::size_t pos_ = 0;
};

}  // namespace korvo
