// The viewer's work on a 20-page fine fax, each beside copying the same
// bytes: opening it and showing page 1, turning through the 20 pages with
// the window drawn each time (with the resident memory each page adds),
// drawing a 1280 x 1024 window at 100% and the whole page at 25%, and
// fitting a page to A4 at 300 dpi. Goal: a turn with drawing under 50 ms, and
// no growth per page.
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "common/tiff_writer.h"
#include "tests/common/fax_pages.h"
#include "viewer/fax_image_document.h"
#include "viewer/print_pages.h"
#include "viewer/view_geometry.h"

namespace {

namespace fs = std::filesystem;
using korvo::FaxImageDocument;

constexpr int kPages = 20;
constexpr korvo::ViewRect kWindow{0, 0, 1280, 1024};

// One 20-page fine fax of text pages for the whole run.
const std::string& FaxFile() {
  static const std::string path = [] {
    const fs::path dir = fs::temp_directory_path() / ("viewer_bench." + std::to_string(std::random_device()()));
    fs::create_directories(dir);
    const std::string file = (dir / "twenty.fax").string();
    korvo::TiffWriter writer;
    writer.Open(file);
    for (int i = 0; i < kPages; ++i) {
      const auto coded = korvo::test::EncodePage(korvo::test::TextPage(1728, 2200, i + 1), 1728, 2200);
      korvo::PageDescriptor d;
      d.length = 2200;
      writer.WritePage(d, coded.data(), static_cast<uint32_t>(coded.size()));
    }
    writer.Close();
    std::atexit([] { fs::remove_all(fs::path(FaxFile()).parent_path()); });
    return file;
  }();
  return path;
}

size_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  size_t pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

// Copies `bytes` bytes per iteration: the yardstick beside each task.
void Copy(benchmark::State& state, size_t bytes) {
  std::vector<uint8_t> from(bytes, 0x5A), to(bytes);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), bytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void BM_OpenAndShowPage1(benchmark::State& state) {
  for (auto _ : state) {
    FaxImageDocument doc;
    if (!doc.Open(FaxFile())) state.SkipWithError("cannot open");
    benchmark::DoNotOptimize(korvo::DrawZoomed(doc.Bitmap(), doc.Zoom(), kWindow).pixels.data());
  }
}
BENCHMARK(BM_OpenAndShowPage1)->Unit(benchmark::kMillisecond);
void BM_CopyFileBytes(benchmark::State& state) { Copy(state, fs::file_size(FaxFile())); }
BENCHMARK(BM_CopyFileBytes)->Unit(benchmark::kMillisecond);

void BM_TurnWithDrawing(benchmark::State& state) {
  FaxImageDocument doc;
  doc.SetZoom(32783);  // 100%
  if (!doc.Open(FaxFile())) state.SkipWithError("cannot open");
  // One pass first, so that the allocator's working set is in place.
  while (doc.GoToPage(korvo::kPageNext)) korvo::DrawZoomed(doc.Bitmap(), doc.Zoom(), kWindow);
  const size_t before = ResidentBytes();
  int64_t turns = 0;
  for (auto _ : state) {
    const uint32_t mode = doc.CurrentPage() + 1 == kPages ? korvo::kPageFirst : korvo::kPageNext;
    if (!doc.GoToPage(mode)) state.SkipWithError("turn failed");
    benchmark::DoNotOptimize(korvo::DrawZoomed(doc.Bitmap(), doc.Zoom(), kWindow).pixels.data());
    ++turns;
  }
  const double growth = static_cast<double>(ResidentBytes()) - static_cast<double>(before);
  state.counters["resident_growth_per_page_bytes"] = turns ? growth / static_cast<double>(turns) : 0;
}
BENCHMARK(BM_TurnWithDrawing)->Unit(benchmark::kMillisecond);
// A turn's bytes: the coded page read and the bitmap made from it.
void BM_CopyPageBytes(benchmark::State& state) {
  Copy(state, fs::file_size(FaxFile()) / kPages + korvo::PageBitmap::StrideOf(1728) * 2200);
}
BENCHMARK(BM_CopyPageBytes)->Unit(benchmark::kMillisecond);

// The page shown, at a zoom, drawn into the window.
void Draw(benchmark::State& state, int32_t zoom) {
  FaxImageDocument doc;
  doc.SetZoom(zoom);
  if (!doc.Open(FaxFile())) state.SkipWithError("cannot open");
  size_t bytes = 0;
  for (auto _ : state) {
    const korvo::RgbImage image = korvo::DrawZoomed(doc.Bitmap(), doc.Zoom(), kWindow);
    bytes = image.pixels.size();
    benchmark::DoNotOptimize(image.pixels.data());
  }
  state.counters["image_bytes"] = static_cast<double>(bytes);
}
void BM_DrawWindowAt100(benchmark::State& state) { Draw(state, 32783); }
BENCHMARK(BM_DrawWindowAt100)->Unit(benchmark::kMillisecond);
void BM_CopyWindowBytes(benchmark::State& state) { Copy(state, 1280 * 1024 * 3); }
BENCHMARK(BM_CopyWindowBytes)->Unit(benchmark::kMillisecond);
// At 25% the window holds the whole page.
void BM_DrawPageAt25(benchmark::State& state) { Draw(state, 32780); }
BENCHMARK(BM_DrawPageAt25)->Unit(benchmark::kMillisecond);
void BM_CopyQuarterPageBytes(benchmark::State& state) { Copy(state, 432 * 550 * 3); }
BENCHMARK(BM_CopyQuarterPageBytes)->Unit(benchmark::kMillisecond);

// A4 at 300 dpi: 2480 x 3508 pixels of paper.
void BM_FitPageToA4At300(benchmark::State& state) {
  FaxImageDocument doc;
  if (!doc.Open(FaxFile())) state.SkipWithError("cannot open");
  for (auto _ : state) {
    korvo::PrintPages pages(doc);
    benchmark::DoNotOptimize(pages.PreviewImage(1, 2480, 3508));
  }
}
BENCHMARK(BM_FitPageToA4At300)->Unit(benchmark::kMillisecond);
void BM_CopyA4Bytes(benchmark::State& state) { Copy(state, 2480 * 3508 * 3); }
BENCHMARK(BM_CopyA4Bytes)->Unit(benchmark::kMillisecond);

}  // namespace
