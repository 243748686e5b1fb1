#include "platform/lasterror.h"

#include <cstring>

namespace korvo::platform {

namespace {
thread_local uint32_t tLastError = 0;
}

uint32_t GetLastError() { return tLastError; }

void SetLastError(uint32_t code) { tLastError = code; }

uint32_t SetLastErrorFromErrno() {
  tLastError = static_cast<uint32_t>(errno);
  return tLastError;
}

std::string SystemErrorText(uint32_t code) {
  char buf[256];
  // GNU strerror_r returns the text, which may or may not live in buf.
  const char* text = strerror_r(static_cast<int>(code), buf, sizeof buf);
  std::string s = text ? text : "";
  if (auto cr = s.find_first_of("\r\n"); cr != std::string::npos) s.resize(cr);
  return s;
}

bool IsSystemErrorCode(uint32_t code) {
  return code <= static_cast<uint32_t>(INT32_MAX) && strerrorname_np(static_cast<int>(code)) != nullptr;
}

}  // namespace korvo::platform
