// Traces and text conversions shared by every program. Traces go to the trace
// sink of the platform layer and only when the machine value "DebugFlags" (see
// GetDebugFlags in common/settings.h) is not 0; none of them ever changes the
// thread's last error.
#pragma once

#include <cstdint>

// Exports of libkorvocore.so under their C names.
extern "C" {

// printf-style trace, cut to 255 characters; concurrent traces are serialised.
void DebugPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Traces "<text> E:<system text of the last error>\n".
void DebugPrintLastError(const char* text);

// Stores the last error in *code (when code is given) and, when a buffer is
// given, the system's text for it (cut to the buffer, no line end). Returns 1,
// or 0 for a buffer of size 0. The last error stays unchanged.
int FormatLastError(char* buffer, uint32_t size, uint32_t* code);

// UTF-16 to the 8-bit encoding (UTF-8 here) and back. The result is cut at a
// character boundary to fit the buffer (size bytes, count code units) and is
// always NUL-terminated when the buffer holds anything; invalid input becomes
// U+FFFD. Both return the output buffer.
char* WideToAnsi(const char16_t* wide, char* buffer, uint32_t size);
char16_t* AnsiToWide(const char* text, char16_t* wide, uint32_t count);

}  // extern "C"
