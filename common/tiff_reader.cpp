#include "common/tiff_reader.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include "common/huffman.h"
#include "common/imaging_exceptions.h"
#include "common/status_codes.h"
#include "common/tiff_writer.h"

namespace korvo {

namespace {

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

uint64_t FileSize(std::FILE* file) {
  const off_t here = ftello(file);
  if (fseeko(file, 0, SEEK_END) != 0) throw new FileReadingException;
  const off_t size = ftello(file);
  if (size < 0 || fseeko(file, here, SEEK_SET) != 0) throw new FileReadingException;
  return static_cast<uint64_t>(size);
}

// Exactly `size` bytes at `offset`; anything less (offsets past the end of
// the file included) is a FileReadingException.
void ReadAt(std::FILE* file, uint64_t offset, void* buffer, uint64_t size) {
  if (size > FileSize(file) || offset > FileSize(file) - size) throw new FileReadingException;
  if (fseeko(file, static_cast<off_t>(offset), SEEK_SET) != 0) throw new FileReadingException;
  if (size != 0 && std::fread(buffer, 1, size, file) != size) throw new FileReadingException;
}

}  // namespace

// --- TiffTagSpec

void TiffTagSpec::Accept(const uint8_t* entry, std::FILE* file) {
  const uint16_t type = Get16(entry + 2);
  const uint32_t count = Get32(entry + 4);
  const bool typeOk = type_ == kTiffShortOrLong ? type == kTiffShort || type == kTiffLong : type == type_;
  if (!typeOk || (count_ != 0 && count != count_)) throw new TiffException(kTiffTagFormat);
  found_ = true;
  const uint8_t* v = entry + 8;
  switch (kind_) {
    case Kind::Long:
      value_ = Get32(v);
      break;
    case Kind::Short:
      value_ = Get16(v);
      break;
    case Kind::ShortOrLong:
      value_ = type == kTiffShort ? Get16(v) : Get32(v);
      break;
    case Kind::Rational: {
      uint8_t r[8];
      ReadAt(file, Get32(v), r, 8);
      value_ = Get32(r);
      second_ = Get32(r + 4);
      break;
    }
    case Kind::PageNumber:
      value_ = Get16(v);
      second_ = Get16(v + 2);
      break;
    case Kind::Ascii:
      if (count <= 4) {
        text_.assign(reinterpret_cast<const char*>(v), count);
      } else {
        // A count past the end of the file is refused before anything is allocated.
        if (count > FileSize(file)) throw new FileReadingException;
        std::string text(count, '\0');
        ReadAt(file, Get32(v), text.data(), count);
        text_ = std::move(text);
      }
      break;
  }
  taken_ = true;
}

void TiffTagSpec::Reset() {
  found_ = taken_ = false;
  value_ = second_ = 0;
  text_.clear();
  text_.shrink_to_fit();
}

// --- TiffDirectory

TiffDirectory::TiffDirectory() {
  using K = TiffTagSpec::Kind;
  specs_ = {
      {254, kTiffLong, 1, K::Long},           {256, kTiffShortOrLong, 1, K::ShortOrLong},
      {257, kTiffShortOrLong, 1, K::ShortOrLong}, {258, kTiffShort, 1, K::Short},
      {259, kTiffShort, 1, K::Short},         {262, kTiffShort, 1, K::Short},
      {266, kTiffShort, 1, K::Short},         {273, kTiffShortOrLong, 1, K::ShortOrLong},
      {277, kTiffShort, 1, K::Short},         {278, kTiffShortOrLong, 1, K::ShortOrLong},
      {279, kTiffShortOrLong, 1, K::ShortOrLong}, {282, kTiffRational, 1, K::Rational},
      {283, kTiffRational, 1, K::Rational},   {292, kTiffLong, 1, K::Long},
      {296, kTiffShort, 1, K::Short},         {297, kTiffShort, 2, K::PageNumber},
      {305, kTiffAscii, 0, K::Ascii},
  };
  std::fill(std::begin(slot_), std::end(slot_), -1);
  for (size_t i = 0; i < specs_.size(); ++i) slot_[specs_[i].Tag() - kFirstTag] = static_cast<int>(i);
}

const TiffTagSpec* TiffDirectory::Find(uint16_t tag) const {
  if (tag < kFirstTag || tag > kLastTag || slot_[tag - kFirstTag] < 0) return nullptr;
  return &specs_[slot_[tag - kFirstTag]];
}

void TiffDirectory::Reset() {
  for (auto& s : specs_) s.Reset();
}

void TiffDirectory::Load(const uint8_t* entries, uint32_t count, std::FILE* file) {
  Reset();
  uint32_t previous = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* e = entries + 12 * i;
    const uint16_t tag = Get16(e);
    if (tag <= previous) throw new TiffException(kTiffTagOrder);
    previous = tag;
    if (tag < kFirstTag || tag > kLastTag || slot_[tag - kFirstTag] < 0) continue;
    specs_[slot_[tag - kFirstTag]].Accept(e, file);
  }
  for (const auto& s : specs_)
    if (!s.Found()) throw new TiffException(kTiffTagMissing);
}

// --- TiffReader

TiffReader::TiffReader() = default;
TiffReader::~TiffReader() { Close(); }

void TiffReader::Seek(uint32_t offset) {
  if (offset > fileSize_ || fseeko(file_, offset, SEEK_SET) != 0) throw new FileReadingException;
}

void TiffReader::ReadExact(void* buffer, uint32_t size) {
  if (size != 0 && std::fread(buffer, 1, size, file_) != size) throw new FileReadingException;
}

TiffReader::Page TiffReader::ReadDirectory(uint32_t offset) {
  if (offset == 0) throw new TiffException(kTiffZeroOffset);
  Seek(offset);
  uint8_t countBytes[2];
  ReadExact(countBytes, 2);
  const uint32_t count = Get16(countBytes);
  std::vector<uint8_t> entries(count * 12);
  ReadExact(entries.data(), static_cast<uint32_t>(entries.size()));
  uint8_t next[4];
  ReadExact(next, 4);
  nextIfd_ = Get32(next);

  TiffDirectory& d = directory_;
  d.Load(entries.data(), count, file_);
  const uint32_t width = d[256].Value(), length = d[257].Value();
  const uint32_t photometric = d[262].Value(), fillOrder = d[266].Value();
  const bool fax = d[254].Value() == 2 && (width == 1728 || width == 2048 || width == 2432) &&
                   d[258].Value() == 1 && d[259].Value() == 3 && photometric <= 1 &&
                   (fillOrder == 1 || fillOrder == 2) && d[273].Value() > 7 && d[277].Value() == 1 &&
                   d[278].Value() == length && length <= 0xFFFF && d[282].Numerator() == 204 &&
                   d[282].Denominator() == 1 && (d[283].Numerator() == 196 || d[283].Numerator() == 98) &&
                   d[283].Denominator() == 1 && d[292].Value() == 4 && d[296].Value() == 2 && d[297].Total() != 0;
  if (!fax) {
    d.Reset();
    throw new TiffException(kTiffNotFaxPage);
  }
  Page p;
  p.descriptor = {static_cast<uint16_t>(width), static_cast<uint16_t>(length),
                  static_cast<uint16_t>(d[282].Numerator()), static_cast<uint16_t>(d[283].Numerator()),
                  photometric, fillOrder};
  p.stripOffset = d[273].Value();
  p.stripBytes = d[279].Value();
  p.index = d[297].Index();
  p.total = d[297].Total();
  d.Reset();
  return p;
}

void TiffReader::Open(const std::string& path, uint16_t& pageCount, PageDescriptor& descriptor) {
  Close();
  file_ = std::fopen(path.c_str(), "rb");
  if (!file_) throw std::system_error(errno, std::generic_category(), "cannot open " + path);
  open_ = true;
  try {
    fileSize_ = FileSize(file_);
    uint8_t header[8];
    ReadExact(header, 8);
    if (header[0] != 'I' || header[1] != 'I' || Get16(header + 2) != 42) throw new TiffException(kTiffBadHeader);
    firstIfd_ = Get32(header + 4);
    if (firstIfd_ < 8) throw new TiffException(kTiffBadHeader);
    const Page first = ReadDirectory(firstIfd_);
    pageCount_ = first.total;
    pageCount = pageCount_;
    descriptor = first.descriptor;
  } catch (...) {
    Close();
    throw;
  }
}

bool TiffReader::ReadPage(uint32_t mode, uint16_t& index, PageDescriptor& descriptor, const uint8_t*& data,
                          uint32_t& byteCount) {
  int64_t target;
  switch (mode) {
    case kPageAtIndex: target = index; break;
    case kPageFirst: target = 0; break;
    case kPageLast: target = static_cast<int64_t>(pageCount_) - 1; break;
    case kPageNext: target = static_cast<int64_t>(index) + 1; break;
    case kPagePrevious: target = static_cast<int64_t>(index) - 1; break;
    default: return false;
  }
  if (!open_ || target < 0 || target >= pageCount_) return false;
  strip_.clear();
  strip_.shrink_to_fit();
  bitmap_.reset();

  uint32_t offset = firstIfd_;
  for (int64_t i = 0; i < target; ++i) {
    if (offset == 0) throw new TiffException(kTiffZeroOffset);
    Seek(offset);
    uint8_t countBytes[2];
    ReadExact(countBytes, 2);
    const uint64_t linkAt = static_cast<uint64_t>(offset) + 2 + 12u * Get16(countBytes);
    if (linkAt > UINT32_MAX) throw new FileReadingException;
    Seek(static_cast<uint32_t>(linkAt));
    uint8_t next[4];
    ReadExact(next, 4);
    offset = Get32(next);
  }
  const Page p = ReadDirectory(offset);
  std::vector<uint8_t> strip(0);
  if (static_cast<uint64_t>(p.stripOffset) + p.stripBytes > fileSize_) throw new FileReadingException;
  strip.resize(p.stripBytes);
  Seek(p.stripOffset);
  ReadExact(strip.data(), p.stripBytes);
  strip_ = std::move(strip);
  descriptor = p.descriptor;
  data = strip_.data();
  byteCount = p.stripBytes;
  index = p.index;
  return true;
}

bool TiffReader::ReadPageBitmap(uint32_t mode, uint16_t& index, PageDescriptor& descriptor, const uint8_t*& bitmap,
                                uint32_t& size) {
  const uint8_t* data = nullptr;
  uint32_t bytes = 0;
  if (!ReadPage(mode, index, descriptor, data, bytes)) return false;
  uint32_t stride = (descriptor.width + 7u) / 8;
  stride += stride % 2;
  const uint32_t pad = stride * 8 - descriptor.width;
  const uint32_t total = descriptor.length * stride;
  auto out = std::make_unique<BitBuffer>(total, 0, kMsbFirst);
  BitArray source(data, BitLength::FromBytes(bytes), descriptor.fillOrder == 1 ? kMsbFirst : kLsbFirst);
  HuffmanDecompression decoder(source, out.get(), descriptor.photometric, 1, descriptor.width);
  decoder.DecodeLines(descriptor.length, pad);
  strip_.clear();
  strip_.shrink_to_fit();
  bitmap_ = std::move(out);
  bitmap = bitmap_->Data();
  size = total;
  return true;
}

void TiffReader::Close() {
  if (!open_) return;
  std::fclose(file_);
  file_ = nullptr;
  open_ = false;
  strip_.clear();
  strip_.shrink_to_fit();
  bitmap_.reset();
  firstIfd_ = nextIfd_ = 0;
  pageCount_ = 0;
  fileSize_ = 0;
  directory_.Reset();
}

// --- FaxImagePair

FaxImagePair::FaxImagePair(const std::string& firstPath, const std::string& secondPath)
    : firstPath_(firstPath), secondPath_(secondPath), twoFiles_(!firstPath.empty()) {}

void FaxImagePair::CountPages(uint16_t& count, PageDescriptor& descriptor) {
  if (!twoFiles_) {
    second_.Open(secondPath_, pageCount_, descriptor);
  } else {
    uint16_t firstCount = 0;
    PageDescriptor secondDescriptor;
    first_.Open(firstPath_, firstCount, descriptor);
    second_.Open(secondPath_, pageCount_, secondDescriptor);
  }
  count = pageCount_;
}

bool FaxImagePair::ReadPage(uint32_t mode, uint16_t& index, PageDescriptor& descriptor, const uint8_t*& data,
                            uint32_t& size) {
  if (!twoFiles_) return second_.ReadPage(mode, index, descriptor, data, size);
  int64_t target;
  switch (mode) {
    case kPageAtIndex: target = index; break;
    case kPageLast: target = static_cast<int64_t>(pageCount_) - 1; break;
    case kPageNext: target = static_cast<int64_t>(index) + 1; break;
    case kPagePrevious: target = static_cast<int64_t>(index) - 1; break;
    default: target = 0;
  }
  if (target < 0 || target >= pageCount_) return false;
  uint16_t page = static_cast<uint16_t>(target);
  const bool ok = target == 0 ? first_.ReadPage(kPageFirst, page, descriptor, data, size)
                              : second_.ReadPage(kPageAtIndex, page, descriptor, data, size);
  if (ok) index = static_cast<uint16_t>(target);
  return ok;
}

void FaxImagePair::Close() {
  first_.Close();
  second_.Close();
}

// --- whole files

Status MergeFaxImages(const std::string& firstPath, const std::string& secondPath, const std::string& outputPath) {
  bool created = false;
  try {
    FaxImagePair pair(firstPath, secondPath);
    uint16_t count = 0;
    PageDescriptor descriptor;
    pair.CountPages(count, descriptor);
    TiffWriter writer;
    writer.Open(outputPath);
    created = true;
    for (uint16_t i = 0; i < count; ++i) {
      uint16_t index = i;
      const uint8_t* data = nullptr;
      uint32_t size = 0;
      if (!pair.ReadPage(kPageAtIndex, index, descriptor, data, size)) throw new FileReadingException;
      writer.WritePage(descriptor, data, size);
    }
    writer.Close();
    pair.Close();
    return kStatusSuccess;
  } catch (Exception* e) {
    delete e;
  } catch (...) {
  }
  // A closed partial file would pass for a whole fax with pages missing.
  if (created) std::remove(outputPath.c_str());
  return kStatusCreateFaxImage;
}

uint16_t CountTiffPages(const std::string& path) {
  try {
    TiffReader reader;
    uint16_t count = 0;
    PageDescriptor descriptor;
    reader.Open(path, count, descriptor);
    return count;
  } catch (Exception* e) {
    delete e;
  } catch (...) {
  }
  return 0;
}

}  // namespace korvo
