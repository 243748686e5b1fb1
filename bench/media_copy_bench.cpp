// Expanding a packed program from the installation media: the bench's own
// executable, packed by the built szddpack, expanded by KvCopy into a
// temporary folder (temporary name, fsync, rename, as setup does).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "core/install/install.h"

namespace {

namespace fs = std::filesystem;

struct Media {
  Media() {
    std::string templ = fs::temp_directory_path().string() + "/korvo-bench-XXXXXX";
    if (!mkdtemp(templ.data())) abort();
    dir = templ;
    setenv("KORVO_TRACE", (dir / "trace.log").c_str(), 1);
    fs::copy_file(fs::read_symlink("/proc/self/exe"), dir / "program");
    bytes = static_cast<int64_t>(fs::file_size(dir / "program"));
    const std::string pack = std::string(KORVO_SZDDPACK) + " " + (dir / "program").string();
    if (system(pack.c_str()) != 0) abort();
    fs::create_directories(dir / "out");
  }
  ~Media() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  fs::path dir;
  int64_t bytes = 0;
} gMedia;

void BM_ExpandPackedProgram(benchmark::State& state) {
  const std::string pattern = (gMedia.dir / "progra?").string(), target = (gMedia.dir / "out" / "program").string();
  if (fs::exists(gMedia.dir / "program")) fs::remove(gMedia.dir / "program");
  for (auto _ : state)
    if (!KvCopy(pattern.c_str(), target.c_str())) state.SkipWithError("KvCopy failed");
  state.SetBytesProcessed(state.iterations() * gMedia.bytes);
  state.counters["bytes"] = static_cast<double>(gMedia.bytes);
}
BENCHMARK(BM_ExpandPackedProgram)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
