// Any hive text either fails to parse or parses into contents that write back
// to text that parses into the same contents.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/registry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using korvo::platform::RegistryHiveData;
  constexpr std::string_view kRoot = "HKEY_LOCAL_MACHINE";
  RegistryHiveData first;
  if (!first.Parse(std::string_view(reinterpret_cast<const char*>(data), size), kRoot)) return 0;
  std::string text = first.Serialize(kRoot);
  RegistryHiveData second;
  if (!second.Parse(text, kRoot) || !(second == first) || second.Serialize(kRoot) != text) abort();
  return 0;
}
