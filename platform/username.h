// The login name of the process's effective user, as GetUserName gives it.
#pragma once

#include <cstdint>

namespace korvo::platform {

// Copies the name with its NUL into the buffer. 0 with the last error set when
// the user has no account entry or the name does not fit (ENOBUFS); the
// buffer is then left unchanged.
int GetUserName(char* buffer, uint32_t size);

}  // namespace korvo::platform
