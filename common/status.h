// Status codes: 32-bit values, 0 for success; the top two bits are the
// severity (0xC0000000 error, 0x40000000 informational). The codes of the
// message table have names in common/status_codes.h.
#pragma once

#include <cstdint>
#include <string>

namespace korvo {

using Status = uint32_t;

// The text of a status code in the user's language (Croatian when the locale
// says "hr", else English), without a line end. It comes from the program's
// own message table, else from the one in the library named by the machine
// value "KorvoCore", else from the system's error texts, else it is
// "Error: <low 16 bits> (<code in hex>), error description string not found.".
// The thread's last error is left as it was.
std::string GetStatusText(Status code);

}  // namespace korvo
