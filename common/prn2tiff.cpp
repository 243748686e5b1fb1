#include "common/prn2tiff.h"

#include "common/bits.h"
#include "common/huffman.h"
#include "common/page_descriptor.h"
#include "common/status_codes.h"
#include "common/trace.h"

namespace korvo {

namespace {

// A word as read from the stream: its first letter in the low byte.
constexpr uint16_t Word(const char (&w)[3]) {
  return static_cast<uint16_t>(static_cast<uint8_t>(w[0]) | static_cast<uint8_t>(w[1]) << 8);
}

constexpr uint32_t kLineBytes = kFaxLineWidth / 8;
constexpr uint32_t kMaxPageLines = UINT16_MAX;

}  // namespace

std::string FaxServerTiffWriter::SoftwareName() const { return "KV Fax Server"; }

std::string PrnTiffException::Text() const {
  switch (code_) {
    case kPrnWrongHeader: return "Prn2Tiff Wrong Header Error";
    case kPrnUnexpectedCommand: return "Prn2Tiff Unexpected Command Error";
    case kPrnWrongLineLength: return "Prn2Tiff Wrong Line Length Error";
    default: return "Prn2Tiff Unknown Error";
  }
}

Prn2Tiff::~Prn2Tiff() {
  try {
    Shut();
  } catch (...) {
    TraceCaughtException();
  }
}

void Prn2Tiff::Shut() {
  if (print_) {
    std::fclose(print_);
    print_ = nullptr;
  }
  writer_.Close();
}

void Prn2Tiff::ReadExact(void* buffer, size_t size) {
  if (!print_ || std::fread(buffer, 1, size, print_) != size) throw new FileReadingException;
}

uint16_t Prn2Tiff::ReadWord() {
  uint8_t w[2];
  ReadExact(w, 2);
  return static_cast<uint16_t>(w[0] | w[1] << 8);
}

Status Prn2Tiff::Open(const std::string& printPath, const std::string& imagePath) {
  return OpenWith(printPath, [&] { writer_.Open(imagePath); });
}

Status Prn2Tiff::Open(const std::string& printPath, TextFile& image) {
  return OpenWith(printPath, [&] { writer_.Open(image.GetHandle(), image.GetFileName()); });
}

Status Prn2Tiff::OpenWith(const std::string& printPath, const std::function<void()>& openImage) {
  try {
    Shut();
    print_ = std::fopen(printPath.c_str(), "rb");
    if (!print_) {
      DebugPrint("Cannot open the print file %s\n", printPath.c_str());
      return kStatusOpenPrnOrTiff;
    }
    openImage();
    return 0;
  } catch (...) {
    TraceCaughtException();
  }
  try {
    Shut();
  } catch (...) {
    TraceCaughtException();
  }
  return kStatusOpenPrnOrTiff;
}

Status Prn2Tiff::NextPage() {
  Status status;
  try {
    for (;;) {
      const uint16_t word = ReadWord();
      if (word == Word("BP")) return 0;
      if (word == Word("ED")) {
        status = kStatusEndOfPrnDocument;
        break;
      }
    }
  } catch (...) {
    TraceCaughtException();
    status = kStatusNextPrnPage;
  }
  try {
    Shut();
  } catch (...) {
    // The pages could not be completed: the end is not a success.
    TraceCaughtException();
    status = kStatusNextPrnPage;
  }
  return status;
}

Status Prn2Tiff::ConvertPage() {
  try {
    if (!writer_.IsOpen()) throw new FileReadingException;
    BitArray line(kLineBytes, kMsbFirst);
    BitBuffer output(16384, 8192, kLsbFirst);
    HuffmanEncoder encoder(line, output, 0, kFaxLineWidth);
    PageDescriptor descriptor{kFaxLineWidth, 0, 204, 196, 0, 2};
    // Blank lines are held back until the next line or the end of the page.
    // A "CF" right after a line moves down from that line, which counts as
    // the first of its n.
    uint32_t pending = 0;
    bool afterLine = false;
    auto reserve = [&](uint32_t lines) {
      if (encoder.LineCount() + static_cast<uint64_t>(lines) > kMaxPageLines) throw new PrnTiffException(kPrnPageTooLong);
    };
    auto putPending = [&] {
      if (pending == 0) return;
      reserve(pending);
      encoder.PutBlankLines(pending);
      pending = 0;
    };
    for (;;) {
      const uint16_t word = ReadWord();
      if (word == Word("CF")) {
        uint8_t n;
        ReadExact(&n, 1);
        if (n > 0) {
          pending += afterLine ? n - 1u : n;
          afterLine = false;
          reserve(pending);
        }
      } else if (word == Word("BL")) {
        uint8_t length[2];
        ReadExact(length, 2);
        if ((length[0] | length[1] << 8) != kLineBytes) throw new PrnTiffException(kPrnWrongLineLength);
        putPending();
        reserve(1);
        line.ReadFrom(print_);
        encoder.EncodeLine();
        afterLine = true;
      } else if (word == Word("EP")) {
        break;
      }
    }
    putPending();
    // A TIFF page has at least one row: libtiff refuses a whole file in which
    // one page has none. A printed page with nothing on it stays a white page.
    if (encoder.LineCount() == 0) encoder.PutBlankLines(1);
    encoder.Finish();
    descriptor.length = encoder.LineCount();
    writer_.WritePage(descriptor, output.Data(), output.ByteCount());
    return 0;
  } catch (...) {
    TraceCaughtException();
  }
  try {
    Shut();
  } catch (...) {
    TraceCaughtException();
  }
  return kStatusPrnToTiff;
}

}  // namespace korvo
