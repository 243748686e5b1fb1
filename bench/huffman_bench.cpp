// Coding and decoding one fax page (1728 x 2200: text-like, all white, a
// randomly dithered grey ramp and an ordered-dither halftone):
// this coder against libtiff's CCITT Group 3 one-dimensional codec on the
// same pixels. Both run in memory.
#include <benchmark/benchmark.h>
#include <tiffio.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "common/bits.h"
#include "common/huffman.h"
#include "tests/common/fax_pages.h"

namespace {

using namespace korvo;

constexpr uint32_t kWidth = 1728;
constexpr uint32_t kLines = 2200;
constexpr uint32_t kStride = kWidth / 8;

// The page kinds, by benchmark argument.
const std::vector<uint8_t>& Page(int64_t kind) {
  static const std::vector<uint8_t> pages[] = {
      test::TextPage(kWidth, kLines, 1),
      std::vector<uint8_t>(kStride * kLines, 0),
      test::RandomDitherPage(kWidth, kLines, 1),
      test::HalftonePage(kWidth, kLines),
  };
  return pages[kind];
}

// --- a TIFF in memory for libtiff

struct MemFile {
  std::vector<uint8_t> bytes;
  toff_t pos = 0;
};

tsize_t MemRead(thandle_t h, tdata_t buf, tsize_t size) {
  auto* m = static_cast<MemFile*>(h);
  const tsize_t n = std::max<tsize_t>(0, std::min<tsize_t>(size, static_cast<tsize_t>(m->bytes.size() - m->pos)));
  std::memcpy(buf, m->bytes.data() + m->pos, n);
  m->pos += n;
  return n;
}
tsize_t MemWrite(thandle_t h, tdata_t buf, tsize_t size) {
  auto* m = static_cast<MemFile*>(h);
  if (m->pos + size > m->bytes.size()) m->bytes.resize(m->pos + size);
  std::memcpy(m->bytes.data() + m->pos, buf, size);
  m->pos += size;
  return size;
}
toff_t MemSeek(thandle_t h, toff_t off, int whence) {
  auto* m = static_cast<MemFile*>(h);
  const toff_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->pos : m->bytes.size();
  m->pos = base + off;
  return m->pos;
}
int MemClose(thandle_t) { return 0; }
toff_t MemSize(thandle_t h) { return static_cast<MemFile*>(h)->bytes.size(); }
int MemMap(thandle_t, tdata_t*, toff_t*) { return 0; }
void MemUnmap(thandle_t, tdata_t, toff_t) {}

TIFF* MemOpen(MemFile& m, const char* mode) {
  m.pos = 0;
  return TIFFClientOpen("page", mode, &m, MemRead, MemWrite, MemSeek, MemClose, MemSize, MemMap, MemUnmap);
}

void LibtiffEncode(MemFile& m, const std::vector<uint8_t>& page) {
  m.bytes.clear();
  TIFF* tif = MemOpen(m, "w");
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kLines);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
  TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, GROUP3OPT_FILLBITS);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, kLines);
  if (TIFFWriteEncodedStrip(tif, 0, const_cast<uint8_t*>(page.data()), static_cast<tmsize_t>(page.size())) < 0)
    throw std::runtime_error("libtiff encode failed");
  TIFFClose(tif);
}

std::vector<uint8_t> OurEncode(const std::vector<uint8_t>& page) {
  BitBuffer out(16384, 8192, kLsbFirst);
  BitArray line(kStride, kMsbFirst);
  HuffmanEncoder enc(line, out, 0, kWidth);
  for (uint32_t y = 0; y < kLines; ++y) {
    std::memcpy(line.MutableData(), &page[y * kStride], kStride);
    line.Rewind();
    enc.EncodeLine();
  }
  enc.Finish();
  return std::vector<uint8_t>(out.Data(), out.Data() + out.ByteCount());
}

void Rate(benchmark::State& state) {
  state.counters["lines/s"] = benchmark::Counter(static_cast<double>(kLines), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_KorvoEncode(benchmark::State& state) {
  const auto& page = Page(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(OurEncode(page));
  Rate(state);
}

void BM_LibtiffEncode(benchmark::State& state) {
  const auto& page = Page(state.range(0));
  MemFile m;
  for (auto _ : state) {
    LibtiffEncode(m, page);
    benchmark::DoNotOptimize(m.bytes.data());
  }
  Rate(state);
}

void OurDecode(const std::vector<uint8_t>& coded) {
  BitArray src(coded.data(), BitLength::FromBytes(static_cast<uint32_t>(coded.size())), kLsbFirst);
  BitBuffer out(kStride * kLines, 0, kMsbFirst);
  HuffmanDecompression dec(src, &out, 0, 1, kWidth);
  dec.DecodeLines(kLines, 0);
  benchmark::DoNotOptimize(out.Data());
}

void BM_KorvoDecode(benchmark::State& state) {
  const auto coded = OurEncode(Page(state.range(0)));
  for (auto _ : state) OurDecode(coded);
  Rate(state);
}

void BM_LibtiffDecode(benchmark::State& state) {
  MemFile m;
  LibtiffEncode(m, Page(state.range(0)));
  TIFF* tif = MemOpen(m, "r");
  std::vector<uint8_t> out(kStride * kLines);
  for (auto _ : state) {
    if (TIFFReadEncodedStrip(tif, 0, out.data(), static_cast<tmsize_t>(out.size())) < 0)
      state.SkipWithError("libtiff decode failed");
    benchmark::DoNotOptimize(out.data());
  }
  TIFFClose(tif);
  Rate(state);
}

// Both decoders in turn on the same page, every iteration: "vs libtiff" is
// libtiff's time over ours (above 1 is faster), which load on the machine
// affects alike. The iteration time is ours.
void BM_DecodeVsLibtiff(benchmark::State& state) {
  const auto coded = OurEncode(Page(state.range(0)));
  MemFile m;
  LibtiffEncode(m, Page(state.range(0)));
  TIFF* tif = MemOpen(m, "r");
  std::vector<uint8_t> out(kStride * kLines);
  using Clock = std::chrono::steady_clock;
  Clock::duration ours{}, theirs{};
  for (auto _ : state) {
    const auto t0 = Clock::now();
    OurDecode(coded);
    const auto t1 = Clock::now();
    if (TIFFReadEncodedStrip(tif, 0, out.data(), static_cast<tmsize_t>(out.size())) < 0)
      state.SkipWithError("libtiff decode failed");
    benchmark::DoNotOptimize(out.data());
    const auto t2 = Clock::now();
    ours += t1 - t0;
    theirs += t2 - t1;
    state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
  }
  TIFFClose(tif);
  state.counters["vs libtiff"] = std::chrono::duration<double>(theirs) / std::chrono::duration<double>(ours);
}

// Page kinds: 0 text, 1 all white, 2 random dither, 3 ordered-dither halftone.
#define PAGE_KINDS ArgName("page")->DenseRange(0, 3)
BENCHMARK(BM_KorvoEncode)->PAGE_KINDS;
BENCHMARK(BM_LibtiffEncode)->PAGE_KINDS;
BENCHMARK(BM_KorvoDecode)->PAGE_KINDS;
BENCHMARK(BM_LibtiffDecode)->PAGE_KINDS;
BENCHMARK(BM_DecodeVsLibtiff)->PAGE_KINDS->UseManualTime();

}  // namespace
