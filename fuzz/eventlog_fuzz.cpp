// The event log store on arbitrary file contents: reading never crashes or
// loops, and a write afterwards always leaves a log whose newest record is
// the one written.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/eventlog.h"

namespace {

// A folder of its own, removed at exit (a plain buffer, which outlives the
// exit handlers).
char gDir[] = "/tmp/korvo-evtfuzz-XXXXXX";

std::string Dir() {
  static const bool made = [] {
    if (!mkdtemp(gDir)) abort();
    setenv("KORVO_LOG_DIR", gDir, 1);
    setenv("KORVO_MACHINE_HIVE", (std::string(gDir) + "/machine.reg").c_str(), 1);
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(gDir, ec);
    });
    return true;
  }();
  (void)made;
  return gDir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = Dir() + "/Korvo.evt";
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  korvo::platform::EventLog log;
  if (!log.Open("Korvo")) return 0;
  uint32_t count = 0;
  log.Count(count);
  if (!log.Report("fuzz", korvo::platform::kEventInformation, 1, 9000, {"newest"})) abort();
  bool newest = false;
  log.ReadNewestFirst([&](const korvo::platform::EventRecord& r) {
    newest = r.strings.size() == 1 && r.strings[0] == "newest" && r.source == "fuzz";
    return false;
  });
  if (!newest) abort();
  return 0;
}
