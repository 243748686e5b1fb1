// The thread's last error, as the Windows-era callers expect it: a per-thread
// value that failing calls set and that traces never change. It holds errno
// values; the few codes that callers test by number have names here.
#pragma once

#include <cerrno>
#include <cstdint>
#include <string>

namespace korvo::platform {

inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorFileNotFound = ENOENT;
inline constexpr uint32_t kErrorBrokenPipe = EPIPE;
inline constexpr uint32_t kErrorMoreData = EMSGSIZE;
inline constexpr uint32_t kErrorPipeBusy = EAGAIN;
inline constexpr uint32_t kErrorTimeout = ETIMEDOUT;

uint32_t GetLastError();
void SetLastError(uint32_t code);
// Stores errno as the last error and returns it.
uint32_t SetLastErrorFromErrno();
// The system's text for an error code, without a line end.
std::string SystemErrorText(uint32_t code);
// Whether the code is one the system has a text of its own for (an errno
// value it knows, or 0), as opposed to the "Unknown error" it makes up.
bool IsSystemErrorCode(uint32_t code);

// Saves the last error (and errno) on construction and restores both on
// destruction, so diagnostic code can never change what the caller sees.
class LastErrorGuard {
 public:
  LastErrorGuard() : saved_(GetLastError()), savedErrno_(errno) {}
  ~LastErrorGuard() {
    SetLastError(saved_);
    errno = savedErrno_;
  }
  LastErrorGuard(const LastErrorGuard&) = delete;
  LastErrorGuard& operator=(const LastErrorGuard&) = delete;

 private:
  uint32_t saved_;
  int savedErrno_;
};

}  // namespace korvo::platform
