// Cost of turning a status code into its text in a program with its own
// table: a table code, and a code that falls through to the fall-back text
// (which also asks the registry for "KorvoCore").
#include <benchmark/benchmark.h>

#include "common/status.h"
#include "common/status_codes.h"

namespace {

void BM_TableText(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(korvo::GetStatusText(korvo::kStatusDbNoOutputWindow));
}
BENCHMARK(BM_TableText);

void BM_FallBackText(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(korvo::GetStatusText(0xC0001234));
}
BENCHMARK(BM_FallBackText);

}  // namespace
