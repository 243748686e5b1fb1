// Pages per second of the print stream conversion, over a ten-page job of
// text as the fax printer emits it.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "common/prn2tiff.h"
#include "tools/prnstream/prn_stream.h"

namespace {

namespace fs = std::filesystem;

std::string JobText() {
  std::string text;
  for (int page = 0; page < 10; ++page) {
    for (int line = 0; line < 50; ++line)
      text += "Line " + std::to_string(line + 1) + " of page " + std::to_string(page + 1) +
              ": the quick brown fox jumps over the lazy dog, 0123456789.\n";
    text += '\f';
  }
  text.pop_back();
  return text;
}

void BM_ConvertTenPageJob(benchmark::State& state) {
  const fs::path dir = fs::temp_directory_path() / ("prn2tiff_bench." + std::to_string(std::random_device()()));
  fs::create_directories(dir);
  korvo::tools::PrnStreamWriter stream;
  stream.BeginDocument(korvo::tools::Paper::A4);
  for (const auto& page : korvo::tools::RenderTextPages(JobText(), korvo::tools::kA4Lines)) stream.Page(page);
  stream.EndDocument();
  const std::string prn = (dir / "job.prn").string(), fax = (dir / "job.fax").string();
  std::ofstream(prn, std::ios::binary) << stream.Bytes();

  int64_t pages = 0;
  for (auto _ : state) {
    korvo::Prn2Tiff conversion;
    if (conversion.Open(prn, fax) != 0) state.SkipWithError("cannot open");
    while (conversion.NextPage() == 0) {
      if (conversion.ConvertPage() != 0) state.SkipWithError("conversion failed");
      ++pages;
    }
  }
  state.SetItemsProcessed(pages);
  state.counters["stream_bytes"] = static_cast<double>(stream.Bytes().size());
  state.counters["fax_bytes"] = static_cast<double>(fs::file_size(fax));
  fs::remove_all(dir);
}
BENCHMARK(BM_ConvertTenPageJob)->Unit(benchmark::kMillisecond);

}  // namespace
