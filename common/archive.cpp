#include "common/archive.h"

#include <algorithm>
#include <cstring>

namespace korvo {

Archive::Archive() : storing_(true) {}

Archive::Archive(std::string_view bytes) : storing_(false), data_(bytes) {}

Archive Archive::StoringInto(std::string buffer) {
  Archive ar;
  ar.data_ = std::move(buffer);
  ar.data_.resize(ar.data_.capacity());
  return ar;
}

std::string Archive::TakeBytes() {
  if (storing_) data_.resize(used_);
  used_ = 0;
  return std::move(data_);
}

void Archive::Grow(std::size_t n) {
  data_.resize(std::max({data_.size() * 2, used_ + n, std::size_t{256}}));
}

void Archive::Take(void* out, std::size_t n) {
  if (storing_) throw ArchiveException("archive is storing");
  if (Remaining() < n) throw ArchiveException("end of archive");
  std::memcpy(out, data_.data() + pos_, n);
  pos_ += n;
}

uint32_t Archive::ReadLe(std::size_t n) {
  unsigned char b[4] = {};
  Take(b, n);
  uint32_t v = 0;
  for (std::size_t i = 0; i < n; ++i) v |= static_cast<uint32_t>(b[i]) << (8 * i);
  return v;
}

void Archive::WriteDword(uint32_t value) { WriteLe(value, 4); }
void Archive::WriteWord(uint16_t value) { WriteLe(value, 2); }
void Archive::WriteByte(uint8_t value) { WriteLe(value, 1); }
uint32_t Archive::ReadDword() { return ReadLe(4); }
uint16_t Archive::ReadWord() { return static_cast<uint16_t>(ReadLe(2)); }
uint8_t Archive::ReadByte() { return static_cast<uint8_t>(ReadLe(1)); }

void Archive::WriteString(std::string_view text) {
  const std::size_t n = text.size();
  if (n > 0xFFFFFFFFu) throw ArchiveException("string too long for an archive");
  if (n < 0xFF) {
    WriteByte(static_cast<uint8_t>(n));
  } else if (n < 0xFFFE) {
    WriteByte(0xFF);
    WriteWord(static_cast<uint16_t>(n));
  } else {
    WriteByte(0xFF);
    WriteWord(0xFFFF);
    WriteDword(static_cast<uint32_t>(n));
  }
  if (n != 0) std::memcpy(Room(n), text.data(), n);
  used_ += n;
}

std::string Archive::ReadString() {
  uint32_t n = ReadByte();
  if (n == 0xFF) {
    n = ReadWord();
    if (n == 0xFFFF) n = ReadDword();
  }
  // Checked before allocating, so a damaged length cannot ask for gigabytes.
  if (Remaining() < n) throw ArchiveException("end of archive");
  std::string text(data_.data() + pos_, n);
  pos_ += n;
  return text;
}

void Archive::WriteCount(uint32_t count) {
  if (count < 0xFFFF) {
    WriteWord(static_cast<uint16_t>(count));
  } else {
    WriteWord(0xFFFF);
    WriteDword(count);
  }
}

uint32_t Archive::ReadCount() {
  uint32_t n = ReadWord();
  if (n == 0xFFFF) n = ReadDword();
  return n;
}

}  // namespace korvo
