#include "desktop/dial_string.h"

#include <string_view>

namespace korvo::desktop {

bool DialStringAccepts(int character) {
  constexpr int kCtrlC = 3, kBackspace = 8, kCtrlV = 22;
  constexpr std::string_view kDialCharacters = " #()*,-0123456789ABCDPTW";
  if (character == kCtrlC || character == kBackspace || character == kCtrlV) return true;
  return character > 0 && character < 128 && kDialCharacters.find(char(character)) != std::string_view::npos;
}

}  // namespace korvo::desktop
