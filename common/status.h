// Status codes: 32-bit values, 0 for success; the top two bits are the
// severity (0xC0000000 error, 0x40000000 informational).
#pragma once

#include <cstdint>
#include <string>

namespace korvo {

using Status = uint32_t;

// The text of a status code in the user's language, without a line end.
std::string GetStatusText(Status code);

}  // namespace korvo
