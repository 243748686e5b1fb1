// TiffReader on arbitrary files: every malformed file ends in one of the
// reader's exceptions, never in a crash, an overrun or a loop.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>

#include "common/imaging_exceptions.h"
#include "common/tiff_reader.h"

using namespace korvo;

namespace {

// In-memory files under /proc/self/fd, so nothing is left on disk.
struct MemoryFile {
  int fd;
  std::string path;
  explicit MemoryFile(const char* name) : fd(memfd_create(name, 0)), path("/proc/self/fd/" + std::to_string(fd)) {
    if (fd < 0) std::abort();
  }
};

template <typename F>
void Guarded(F f) {
  try {
    f();
  } catch (Exception* e) {
    (void)e->Text();
    delete e;
  } catch (const std::system_error&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static MemoryFile input("input"), merged("merged");
  if (ftruncate(input.fd, 0) != 0 || (size && pwrite(input.fd, data, size, 0) != static_cast<ssize_t>(size)))
    std::abort();

  Guarded([&] {
    TiffReader reader;
    uint16_t count = 0;
    PageDescriptor d;
    reader.Open(input.path, count, d);
    // Every page, both ways, a bounded number of them.
    for (uint16_t i = 0; i < count && i < 4; ++i) {
      uint16_t index = i;
      const uint8_t* bytes = nullptr;
      uint32_t n = 0;
      Guarded([&] { reader.ReadPage(kPageAtIndex, index, d, bytes, n); });
      index = i;
      Guarded([&] {
        if (reader.ReadPageBitmap(kPageAtIndex, index, d, bytes, n)) {
          volatile uint8_t sink = 0;
          for (uint32_t k = 0; k < n; k += 4096) sink = sink + bytes[k];
        }
      });
    }
    uint16_t index = 0;
    const uint8_t* bytes = nullptr;
    uint32_t n = 0;
    Guarded([&] { reader.ReadPage(kPageLast, index, d, bytes, n); });
  });
  CountTiffPages(input.path);
  MergeFaxImages(input.path, input.path, merged.path);
  return 0;
}
