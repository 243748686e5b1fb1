// The server's table of request codes: for each code the rights a user needs
// to send it, its name for the log, and whether each accepted request is
// logged.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/entries.h"  // the rights bits

namespace korvo {

struct RequestCode {
  uint32_t code;
  // 0: every connected client may send it; else the user's rights must
  // share a bit with it.
  uint32_t mask;
  const char* name;
  // Each accepted request writes "[user] name" to the server log.
  bool log;

  bool Permits(uint32_t rights) const { return mask == 0 || (rights & mask) != 0; }

  // The entry of a code; null for a code the server does not know.
  static const RequestCode* Find(uint32_t code);
  // Every entry, in the table's order.
  static const RequestCode* Table(size_t* count);
};

}  // namespace korvo
