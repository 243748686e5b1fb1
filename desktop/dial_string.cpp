#include "desktop/dial_string.h"

#include "common/dial_string.h"

namespace korvo::desktop {

bool DialStringAccepts(int character) {
  constexpr int kCtrlC = 3, kBackspace = 8, kCtrlV = 22;
  if (character == kCtrlC || character == kBackspace || character == kCtrlV) return true;
  // The characters the server takes into a dial command.
  return character > 0 && character < 128 && IsDialCharacter(static_cast<char>(character));
}

}  // namespace korvo::desktop
