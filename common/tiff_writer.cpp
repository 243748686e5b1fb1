#include "common/tiff_writer.h"

#include <cerrno>
#include <system_error>

#include "common/bits.h"
#include "common/huffman.h"
#include "platform/file_io.h"
#include "platform/lasterror.h"

namespace korvo {

namespace {

enum : uint16_t { kAscii = 2, kShort = 3, kLong = 4, kRational = 5 };
constexpr uint16_t kEntryCount = 17;
constexpr uint32_t kPageNumberEntry = 15;  // the sixteenth entry

void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

[[noreturn]] void Fail(int error, const std::string& what) {
  throw std::system_error(error ? error : EIO, std::generic_category(), what);
}

}  // namespace

TiffWriter::TiffWriter() { totalPositions_.reserve(5); }

TiffWriter::~TiffWriter() {
  try {
    Close();
  } catch (...) {
    // A destructor cannot report; Close() is the call that does.
  }
}

std::string TiffWriter::SoftwareName() const { return "KV Generic Tiff Writer"; }

void TiffWriter::Open(const std::string& path) {
  Close();
  file_ = std::fopen(path.c_str(), "wb");
  if (!file_) Fail(errno, "cannot create " + path);
  Start(path);
}

void TiffWriter::Open(platform::Handle file, const std::string& name) {
  Close();
  // Emptied through the handle, as creating it by name would have.
  if (platform::SeekHandle(file, 0, platform::kSeekBegin) != 0 || !platform::TruncateHandle(file) ||
      !(file_ = platform::StdioOfHandle(file, "w+b")))
    Fail(static_cast<int>(platform::GetLastError()), "cannot write " + name);
  Start(name);
}

void TiffWriter::Start(const std::string& path) {
  path_ = path;
  open_ = true;
  position_ = 0;
  totalPositions_.clear();
  pagesWritten_ = 0;
  const uint8_t header[8] = {'I', 'I', 42, 0, 0, 0, 0, 0};
  Write(header, sizeof header);
  linkPosition_ = 4;
}

void TiffWriter::Write(const void* data, size_t size) {
  if (!open_) Fail(EBADF, "fax image file not open");
  if (size > UINT32_MAX - position_) Fail(EFBIG, path_);
  if (size != 0 && std::fwrite(data, 1, size, file_) != size) Fail(errno, "cannot write " + path_);
  position_ += static_cast<uint32_t>(size);
}

void TiffWriter::WriteAt(uint32_t offset, const void* data, size_t size) {
  if (std::fseek(file_, offset, SEEK_SET) != 0 || std::fwrite(data, 1, size, file_) != size ||
      std::fseek(file_, position_, SEEK_SET) != 0)
    Fail(errno, "cannot write " + path_);
}

void TiffWriter::PadToEven() {
  if (position_ % 2 != 0) {
    const uint8_t zero = 0;
    Write(&zero, 1);
  }
}

void TiffWriter::WritePage(const PageDescriptor& d, const uint8_t* data, uint32_t byteCount) {
  const uint32_t stripOffset = Position();
  Write(data, byteCount);

  uint8_t rational[8];
  PadToEven();
  const uint32_t xOffset = Position();
  Put32(rational, 204);  // every fax page is 204 dots per inch across
  Put32(rational + 4, 1);
  Write(rational, 8);
  PadToEven();
  const uint32_t yOffset = Position();
  Put32(rational, d.yResolution);
  Write(rational, 8);

  const std::string software = SoftwareName();
  const uint32_t softwareCount = static_cast<uint32_t>(software.size()) + 1;
  uint32_t softwareOffset = 0;
  if (softwareCount > 4) {
    PadToEven();
    softwareOffset = Position();
    Write(software.c_str(), softwareCount);
  }
  PadToEven();
  const uint32_t ifdOffset = Position();
  if (static_cast<uint64_t>(ifdOffset) + 2 + kEntryCount * 12 + 4 > UINT32_MAX) Fail(EFBIG, path_);

  uint8_t ifd[2 + kEntryCount * 12 + 4] = {};
  Put16(ifd, kEntryCount);
  int n = 0;
  auto entry = [&](uint16_t tag, uint16_t type, uint32_t count) {
    uint8_t* e = ifd + 2 + 12 * n++;
    Put16(e, tag);
    Put16(e + 2, type);
    Put32(e + 4, count);
    return e + 8;
  };
  Put32(entry(254, kLong, 1), 2);  // one page of a multi-page document
  Put16(entry(256, kShort, 1), d.width);
  Put16(entry(257, kShort, 1), d.length);
  Put16(entry(258, kShort, 1), 1);
  Put16(entry(259, kShort, 1), 3);  // CCITT T.4
  Put16(entry(262, kShort, 1), static_cast<uint16_t>(d.photometric));
  Put16(entry(266, kShort, 1), static_cast<uint16_t>(d.fillOrder));
  Put32(entry(273, kLong, 1), stripOffset);
  Put16(entry(277, kShort, 1), 1);
  Put32(entry(278, kLong, 1), d.length);
  Put32(entry(279, kLong, 1), byteCount);
  Put32(entry(282, kRational, 1), xOffset);
  Put32(entry(283, kRational, 1), yOffset);
  Put32(entry(292, kLong, 1), 4);  // fill bits before EOL
  Put16(entry(296, kShort, 1), 2);  // inch
  uint8_t* pageNumber = entry(297, kShort, 2);
  Put16(pageNumber, static_cast<uint16_t>(pagesWritten_));
  Put16(pageNumber + 2, 0);  // the total is known at Close
  uint8_t* text = entry(305, kAscii, softwareCount);
  if (softwareCount > 4) Put32(text, softwareOffset);
  else std::copy(software.c_str(), software.c_str() + softwareCount, text);
  Write(ifd, sizeof ifd);

  uint8_t link[4];
  Put32(link, ifdOffset);
  WriteAt(linkPosition_, link, 4);
  linkPosition_ = ifdOffset + 2 + kEntryCount * 12;
  totalPositions_.push_back(ifdOffset + 2 + kPageNumberEntry * 12 + 8 + 2);
  ++pagesWritten_;
}

void TiffWriter::WriteReceivedPage(PageDescriptor& d, uint8_t* data, uint32_t byteCount) {
  EolScanner scanner;
  scanner.FindFirstEol(data, byteCount);
  BitArray source(data, BitLength::FromBytes(byteCount), d.fillOrder == 1 ? kMsbFirst : kLsbFirst);
  HuffmanDecompression counter(source, nullptr, d.photometric, 0, d.width);
  uint16_t lines = 0;
  if (counter.CountLines(lines)) {
    d.length = lines;
    byteCount = source.PositionBytes();
  }
  // A TIFF page has at least one row: libtiff refuses a whole file in which
  // one page has none. A page in which no line came through is kept, as a
  // white one, so the pages after it stay readable and keep their numbers.
  if (d.length == 0) {
    BitArray unused(d.width / 8 + 1, kMsbFirst);
    BitBuffer blank(64, 64, d.fillOrder == 1 ? kMsbFirst : kLsbFirst);
    try {
      HuffmanEncoder encoder(unused, blank, d.photometric, d.width);
      encoder.PutBlankLines(1);
      encoder.Finish();
      d.length = 1;
      WritePage(d, blank.Data(), blank.ByteCount());
      return;
    } catch (HuffmanException* e) {
      delete e;  // a width without a blank-line code: kept as it came
    }
  }
  WritePage(d, data, byteCount);
}

void TiffWriter::Close() {
  if (!open_) return;
  open_ = false;
  std::FILE* f = file_;
  file_ = nullptr;
  bool ok = true;
  uint8_t total[2];
  Put16(total, static_cast<uint16_t>(pagesWritten_));
  for (uint32_t at : totalPositions_)
    ok = ok && std::fseek(f, at, SEEK_SET) == 0 && std::fwrite(total, 1, 2, f) == 2;
  const int error = errno;
  if (std::fclose(f) != 0) ok = false;
  if (!ok) Fail(error, "cannot write " + path_);
}

}  // namespace korvo
