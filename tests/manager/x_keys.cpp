#include "tests/manager/x_keys.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace korvo::test {
namespace {

Display* Open() { return XOpenDisplay(nullptr); }

}  // namespace

LetterKeys::LetterKeys(const std::u32string& letters) : letters_(letters) {
  Display* x = Open();
  if (!x) return;
  int low = 0, high = 0, per = 0;
  XDisplayKeycodes(x, &low, &high);
  KeySym* map = XGetKeyboardMapping(x, static_cast<KeyCode>(low), high - low + 1, &per);
  // Spare keys from the top of the range: those without any symbol.
  for (int code = high; code >= low && keys_.size() < letters_.size(); --code) {
    bool spare = true;
    for (int i = 0; i < per; ++i) spare = spare && map[(code - low) * per + i] == NoSymbol;
    if (!spare) continue;
    // Unicode keysyms: 0x01000000 + the code point.
    KeySym sym = 0x01000000 + static_cast<KeySym>(letters_[keys_.size()]);
    XChangeKeyboardMapping(x, code, 1, &sym, 1);
    keys_.push_back(code);
  }
  XFree(map);
  XSync(x, False);
  XCloseDisplay(x);
}

LetterKeys::~LetterKeys() {
  Display* x = Open();
  if (!x) return;
  for (int code : keys_) {
    KeySym none = NoSymbol;
    XChangeKeyboardMapping(x, code, 1, &none, 1);
  }
  XSync(x, False);
  XCloseDisplay(x);
}

bool LetterKeys::Type(char32_t letter) const {
  const auto at = letters_.find(letter);
  if (at == std::u32string::npos || at >= keys_.size()) return false;
  Display* x = Open();
  if (!x) return false;
  XTestFakeKeyEvent(x, static_cast<unsigned>(keys_[at]), True, 0);
  XTestFakeKeyEvent(x, static_cast<unsigned>(keys_[at]), False, 0);
  XSync(x, False);
  XCloseDisplay(x);
  return true;
}

}  // namespace korvo::test
