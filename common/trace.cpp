#include "common/trace.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "common/settings.h"
#include "platform/lasterror.h"
#include "platform/trace.h"

using korvo::platform::LastErrorGuard;

namespace {

std::mutex& TraceMutex() {
  static std::mutex m;
  return m;
}

}  // namespace

void DebugPrint(const char* format, ...) {
  // The guard comes first: the first GetDebugFlags reads the registry.
  LastErrorGuard guard;
  if (GetDebugFlags() == 0) return;
  std::lock_guard lock(TraceMutex());
  static char buffer[256];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n < 0) return;
  korvo::platform::WriteTrace(std::string_view(buffer, std::strlen(buffer)));
}

void DebugPrintLastError(const char* text) {
  LastErrorGuard guard;
  if (GetDebugFlags() == 0) return;
  char message[256];
  FormatLastError(message, sizeof message, nullptr);
  DebugPrint("%s E:%s\n", text ? text : "", message);
}

int FormatLastError(char* buffer, uint32_t size, uint32_t* code) {
  LastErrorGuard guard;
  uint32_t error = korvo::platform::GetLastError();
  if (code) *code = error;
  if (!buffer) return 1;
  if (size == 0) return 0;
  std::string text = korvo::platform::SystemErrorText(error);
  size_t n = std::min<size_t>(text.size(), size - 1);
  std::memcpy(buffer, text.data(), n);
  buffer[n] = 0;
  return 1;
}

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Next code point of NUL-terminated UTF-8; advances p. Malformed input gives
// U+FFFD for one byte.
char32_t DecodeUtf8(const unsigned char*& p) {
  unsigned char c = *p++;
  if (c < 0x80) return c;
  int extra;
  char32_t cp;
  if (c >= 0xC2 && c <= 0xDF) extra = 1, cp = c & 0x1F;
  else if (c >= 0xE0 && c <= 0xEF) extra = 2, cp = c & 0x0F;
  else if (c >= 0xF0 && c <= 0xF4) extra = 3, cp = c & 0x07;
  else return kReplacement;
  const unsigned char* q = p;
  for (int i = 0; i < extra; ++i, ++q) {
    if ((*q & 0xC0) != 0x80) return kReplacement;
    cp = cp << 6 | (*q & 0x3F);
  }
  // Overlong forms, surrogates and values above U+10FFFF are not UTF-8.
  static const char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kReplacement;
  p = q;
  return cp;
}

// Next code point of NUL-terminated UTF-16; advances p. A lone surrogate gives U+FFFD.
char32_t DecodeUtf16(const char16_t*& p) {
  char16_t c = *p++;
  if (c < 0xD800 || c > 0xDFFF) return c;
  if (c <= 0xDBFF && *p >= 0xDC00 && *p <= 0xDFFF) return 0x10000 + ((char32_t(c) - 0xD800) << 10) + (*p++ - 0xDC00);
  return kReplacement;
}

}  // namespace

char* WideToAnsi(const char16_t* wide, char* buffer, uint32_t size) {
  if (!buffer || size == 0) return buffer;
  size_t n = 0;
  for (const char16_t* p = wide ? wide : u""; *p;) {
    char32_t cp = DecodeUtf16(p);
    char out[4];
    size_t len;
    if (cp < 0x80) out[0] = char(cp), len = 1;
    else if (cp < 0x800) out[0] = char(0xC0 | cp >> 6), out[1] = char(0x80 | (cp & 0x3F)), len = 2;
    else if (cp < 0x10000)
      out[0] = char(0xE0 | cp >> 12), out[1] = char(0x80 | (cp >> 6 & 0x3F)), out[2] = char(0x80 | (cp & 0x3F)), len = 3;
    else
      out[0] = char(0xF0 | cp >> 18), out[1] = char(0x80 | (cp >> 12 & 0x3F)), out[2] = char(0x80 | (cp >> 6 & 0x3F)),
      out[3] = char(0x80 | (cp & 0x3F)), len = 4;
    if (n + len >= size) break;
    std::memcpy(buffer + n, out, len);
    n += len;
  }
  buffer[n] = 0;
  return buffer;
}

char16_t* AnsiToWide(const char* text, char16_t* wide, uint32_t count) {
  if (!wide || count == 0) return wide;
  size_t n = 0;
  for (auto p = reinterpret_cast<const unsigned char*>(text ? text : ""); *p;) {
    char32_t cp = DecodeUtf8(p);
    if (cp < 0x10000) {
      if (n + 1 >= count) break;
      wide[n++] = char16_t(cp);
    } else {
      if (n + 2 >= count) break;
      wide[n++] = char16_t(0xD800 + ((cp - 0x10000) >> 10));
      wide[n++] = char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
    }
  }
  wide[n] = 0;
  return wide;
}
