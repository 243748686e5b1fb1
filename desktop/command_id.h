// Command numbers of the desktop programs as wx window and menu ids.
#pragma once

#include <cstdint>

namespace korvo {

// wxWidgets refuses identifiers from 32767 up, so the windows carry the
// numbers above 30000 less 30000 (32771 is 2771, 57601 is 27601); the
// numbers below stay as they are.
constexpr int WxId(int32_t number) { return number > 30000 ? number - 30000 : number; }
constexpr int32_t NumberOfWxId(int wxId) { return wxId >= 2700 && wxId < 30000 ? wxId + 30000 : wxId; }

}  // namespace korvo
