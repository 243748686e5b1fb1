// Numsnip's Extract over large text files, in bytes per second at several
// sizes: a rate that holds as the file grows shows the run linear. Three
// kinds of file: every line a new fax number (the box grows with the file);
// lines with one of a few hundred numbers over and over, half of them inside
// a longer one listed before; and lines of forty numbers each, every one a
// new run of numbers. Goal: a 100 MB file in a few seconds, and a rate that
// does not fall as the file grows.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "extractor/extract.h"

namespace {

namespace fs = std::filesystem;

enum Kind { kDistinct = 0, kRepeated = 1, kCrowded = 2 };

// The run's folder, removed at exit; a plain array, so that it still holds the
// name when the exit handler runs after the program's objects are gone.
char g_folder[4096];

fs::path Folder() {
  if (!g_folder[0]) {
    const fs::path d = fs::temp_directory_path() / ("numsnip_bench." + std::to_string(std::random_device()()));
    fs::create_directories(d);
    std::snprintf(g_folder, sizeof g_folder, "%s", d.c_str());
    std::atexit([] {
      std::error_code ec;
      fs::remove_all(g_folder, ec);
    });
  }
  return g_folder;
}

std::string Number(uint64_t i) {
  char text[32];
  std::snprintf(text, sizeof text, "(%03u) %03u-%04u", unsigned(200 + i / 10000000 % 800),
                unsigned(i / 10000 % 1000), unsigned(i % 10000));
  return text;
}

// A file of about `megabytes` MB of the kind's lines.
std::string Input(Kind kind, int megabytes) {
  const fs::path path = Folder() / ("in-" + std::to_string(kind) + "-" + std::to_string(megabytes) + ".txt");
  if (fs::exists(path)) return path.string();
  std::ofstream out(path, std::ios::binary);
  const size_t size = size_t(megabytes) << 20;
  size_t written = 0;
  for (uint64_t i = 0; written < size; ++i) {
    std::string line;
    switch (kind) {
      case kDistinct: line = "Fax: " + Number(i) + " (office)\r\n"; break;
      case kRepeated:
        // The short form comes after the long one that holds it.
        line = i % 2 ? "fax " + Number(i / 2 % 300).substr(6) + "\r\n" : "FAX " + Number(i / 2 % 300) + "\r\n";
        break;
      case kCrowded:
        line = "fax";
        for (int k = 0; k < 40; ++k) line += " " + Number(i * 40 + uint64_t(k)) + ",";
        line += "\r\n";
        break;
    }
    out << line;
    written += line.size();
  }
  return path.string();
}

void Extract(benchmark::State& state) {
  const auto kind = Kind(state.range(0));
  const int megabytes = int(state.range(1));
  korvo::numsnip::ExtractOptions options{Input(kind, megabytes), (Folder() / "out.txt").string(), false, false};
  size_t numbers = 0;
  for (auto _ : state) {
    const auto result = korvo::numsnip::Extract(options);
    if (!result.ok) state.SkipWithError(result.error.c_str());
    numbers = result.numbers.size();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(fs::file_size(options.input)));
  state.counters["numbers"] = double(numbers);
}

BENCHMARK(Extract)
    ->ArgNames({"kind", "MB"})
    ->ArgsProduct({{kDistinct, kRepeated}, {4, 16, 64}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
// Crowded lines are searched through their automaton, about 50 bytes for each
// byte of the box: smaller files.
BENCHMARK(Extract)
    ->ArgNames({"kind", "MB"})
    ->ArgsProduct({{kCrowded}, {1, 4, 16}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
