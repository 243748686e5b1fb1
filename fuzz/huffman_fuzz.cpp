// The decoder on arbitrary coded data: it must stay within the page's size,
// never fail, and agree bit for bit with the plain tree walk. The first byte
// picks the bit order, colours and width; the second the line count.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/bits.h"
#include "common/huffman.h"
#include "tests/common/huffman_reference.h"

using namespace korvo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t mode = data[0];
  const uint32_t lines = 1 + data[1] % 64;
  const uint32_t widths[4] = {1728, 2048, 2432, 100};
  const uint32_t width = widths[(mode >> 3) & 3];
  const uint32_t order = mode & 1 ? kMsbFirst : kLsbFirst;
  const uint32_t invert = (mode >> 1) & 1;
  const uint32_t convention = (mode >> 2) & 1;
  const uint32_t pad = (mode >> 5) & 7;
  std::vector<uint8_t> page(data + 2, data + size);
  const auto length = BitLength::FromBytes(static_cast<uint32_t>(page.size()));

  // A bitmap of exactly the page's size that may not grow: overrunning it raises.
  const uint32_t stride = (width + pad + 7) / 8;
  BitBuffer out(lines * stride, 0, kMsbFirst);
  BitArray fast(page.data(), length, order);
  HuffmanDecompression decoder(fast, &out, invert, convention, width);
  decoder.DecodeLines(lines, pad);
  if (out.BitCount() != lines * (width + pad)) std::abort();

  std::string expected;
  BitArray slow(page.data(), length, order);
  test::ReferenceDecoder reference(slow, &expected, invert, convention, width);
  reference.DecodeLines(lines, pad);
  if (test::BitsOf(out.Data(), out.BitCount(), kMsbFirst) != expected) std::abort();
  if (fast.Position() != slow.Position()) std::abort();

  fast.Rewind();
  slow.Rewind();
  uint16_t n1 = 0, n2 = 0;
  HuffmanDecompression counter(fast, nullptr, invert, 0, width);
  test::ReferenceDecoder slowCounter(slow, nullptr, invert, 0, width);
  if (counter.CountLines(n1) != slowCounter.CountLines(n2) || n1 != n2 || fast.Position() != slow.Position())
    std::abort();

  EolScanner scanner;
  scanner.FindFirstEol(page.data(), static_cast<uint32_t>(page.size()));
  return 0;
}
