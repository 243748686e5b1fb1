// Cost of the settings API on a hive of realistic size (a server's settings
// plus some per-list values): every call reads and parses the whole hive, and
// every write also locks, writes, fsyncs and renames it.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "common/settings.h"

namespace {

// The hives live in a temporary folder for the run.
struct TempHives {
  TempHives() {
    std::string templ = std::filesystem::temp_directory_path().string() + "/korvo-bench-XXXXXX";
    if (!mkdtemp(templ.data())) abort();
    dir = templ;
    setenv("KORVO_MACHINE_HIVE", (dir / "machine.reg").c_str(), 1);
    setenv("KORVO_USER_HIVE", (dir / "user.reg").c_str(), 1);
    setenv("KORVO_TRACE", (dir / "trace.log").c_str(), 1);
    for (int i = 0; i < 60; ++i) {
      KvWriteRegStr("Server", ("Value" + std::to_string(i)).c_str(), "C:\\Korvo\\Server\\Some\\Path");
      KvWriteRegDword("Server", ("Counter" + std::to_string(i)).c_str(), static_cast<uint32_t>(i));
    }
  }
  ~TempHives() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  std::filesystem::path dir;
} gHives;

void BM_ReadString(benchmark::State& state) {
  char buffer[260];
  for (auto _ : state) benchmark::DoNotOptimize(KvReadRegStr("Server", "Value30", buffer, sizeof buffer));
}
BENCHMARK(BM_ReadString);

void BM_ReadMissingValue(benchmark::State& state) {
  uint32_t value;
  for (auto _ : state) benchmark::DoNotOptimize(KvReadRegDword("Server", "NoSuchValue", &value));
}
BENCHMARK(BM_ReadMissingValue);

void BM_WriteDword(benchmark::State& state) {
  uint32_t n = 0;
  for (auto _ : state) benchmark::DoNotOptimize(KvWriteRegDword("Server", "MaxImgId", ++n));
}
BENCHMARK(BM_WriteDword);

}  // namespace
