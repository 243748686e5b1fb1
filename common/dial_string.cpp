#include "common/dial_string.h"

namespace korvo {

bool IsDialCharacter(char c) {
  if (c >= '0' && c <= '9') return true;
  if (c >= 'A' && c <= 'D') return true;
  switch (c) {
    case ' ':
    case '#':
    case '(':
    case ')':
    case '*':
    case ',':
    case '-':
    case 'P':
    case 'T':
    case 'W':
      return true;
    default:
      return false;
  }
}

bool IsDialableNumber(std::string_view number) {
  bool dialled = false;
  for (char c : number) {
    if (!IsDialCharacter(c)) return false;
    dialled = dialled || c != ' ';
  }
  return dialled;
}

}  // namespace korvo
