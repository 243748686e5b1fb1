// The format of one fax page.
#pragma once

#include <cstdint>

namespace korvo {

struct PageDescriptor {
  uint16_t width = 1728;
  uint16_t length = 0;        // lines
  uint16_t xResolution = 204;  // dots per inch
  uint16_t yResolution = 196;  // 196 fine, 98 normal
  uint32_t photometric = 0;    // 0: white is zero
  uint32_t fillOrder = 2;      // 2: least significant bit first
};

}  // namespace korvo
