// Cover pages per second: drawing, modified Huffman coding and appending the
// page to a fax image file.
#include <benchmark/benchmark.h>

#include "common/bits.h"
#include "common/cover_page.h"
#include "common/page_renderer.h"

namespace {

const korvo::CoverPageInfo kInfo({"jsmith", 1, "John Smith", "Velmora", "+385 1 555 0100", "+385 1 555 0101"},
                                 {"0015550199", 0, "Ana Horvat", "Horvat d.o.o.", "555 0198", "555 0199"},
                                 "Quarterly figures", 981158700, 12, 3);

void BM_DrawAndWriteCoverPage(benchmark::State& state) {
  korvo::TiffWriter writer;
  writer.Open("/dev/null");
  for (auto _ : state) {
    if (korvo::DrawCoverPage(writer, kInfo) != 0) state.SkipWithError("cover page failed");
    // The file's offsets are 32-bit: start again long before they run out.
    if (writer.PagesWritten() == 10000) writer.Open("/dev/null");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DrawAndWriteCoverPage)->Unit(benchmark::kMicrosecond);

// The coding alone, of a page already drawn.
void BM_EncodeCoverPageBitmap(benchmark::State& state) {
  korvo::PageRenderer page(1728, 620);
  page.SetFontSize(40);
  page.FrameRect({50, 50, 1678, 198});
  page.DrawText("FAX COVER", {50, 50, 1678, 198}, korvo::TextAlignment::Centre);
  for (auto _ : state) {
    korvo::BitBuffer out(16384, 8192, korvo::kLsbFirst);
    page.EncodeTo(out);
    benchmark::DoNotOptimize(out.Data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EncodeCoverPageBitmap)->Unit(benchmark::kMicrosecond);

}  // namespace
