// Registry settings under "Software\Velmora Technologies\Korvo": the generic
// readers and writers (machine hive and, with "User", the user hive) and the
// named accessors. All return 1 for success and 0 for failure.
#pragma once

#include <cstdint>

extern "C" {

int KvWriteRegStr(const char* subkey, const char* name, const char* text);
int KvWriteRegUserStr(const char* subkey, const char* name, const char* text);
int KvWriteRegDword(const char* subkey, const char* name, uint32_t value);
int KvWriteRegUserDword(const char* subkey, const char* name, uint32_t value);
int KvWriteRegBinary(const char* subkey, const char* name, const void* data, uint32_t size);
int KvWriteRegUserBinary(const char* subkey, const char* name, const void* data, uint32_t size);

int KvReadRegStr(const char* subkey, const char* name, char* buffer, uint32_t size);
int KvReadRegUserStr(const char* subkey, const char* name, char* buffer, uint32_t size);
int KvReadRegDword(const char* subkey, const char* name, uint32_t* value);
int KvReadRegUserDword(const char* subkey, const char* name, uint32_t* value);
int KvReadRegBinary(const char* subkey, const char* name, void* buffer, uint32_t size);
int KvReadRegUserBinary(const char* subkey, const char* name, void* buffer, uint32_t size);

int KvGetRegProductKey(char* buffer, uint32_t size);

}  // extern "C"

// Read time-out of client channels in ms (value "ReadTimeout").
int GetReadTimeout(uint32_t* value);
int SetReadTimeout(uint32_t value);
