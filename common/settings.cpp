// Placeholder until the registry layer lands: every read fails as for a
// missing value, every write fails.
#include "common/settings.h"

#include <cstring>

extern "C" {
int KvWriteRegStr(const char*, const char*, const char*) { return 0; }
int KvWriteRegUserStr(const char*, const char*, const char*) { return 0; }
int KvWriteRegDword(const char*, const char*, uint32_t) { return 0; }
int KvWriteRegUserDword(const char*, const char*, uint32_t) { return 0; }
int KvWriteRegBinary(const char*, const char*, const void*, uint32_t) { return 0; }
int KvWriteRegUserBinary(const char*, const char*, const void*, uint32_t) { return 0; }
int KvReadRegStr(const char*, const char*, char*, uint32_t) { return 0; }
int KvReadRegUserStr(const char*, const char*, char*, uint32_t) { return 0; }
int KvReadRegDword(const char*, const char*, uint32_t*) { return 0; }
int KvReadRegUserDword(const char*, const char*, uint32_t*) { return 0; }
int KvReadRegBinary(const char*, const char*, void*, uint32_t) { return 0; }
int KvReadRegUserBinary(const char*, const char*, void*, uint32_t) { return 0; }
int KvGetRegProductKey(char* buffer, uint32_t size) {
  static const char kKey[] = "Software\\Velmora Technologies\\Korvo";
  if (size < 39) return 0;
  std::memcpy(buffer, kKey, sizeof kKey);
  return 1;
}
}
int GetReadTimeout(uint32_t* value) { return KvReadRegDword(nullptr, "ReadTimeout", value); }
int SetReadTimeout(uint32_t value) { return KvWriteRegDword(nullptr, "ReadTimeout", value); }
