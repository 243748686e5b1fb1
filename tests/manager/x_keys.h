// Typing letters the X server's keyboard map lacks (Croatian letters under
// Xvfb): each letter gets a spare key of its own for the test's run, and a
// press of that key reaches the focused window as a user's typing would.
// Kept out of the tests' own files, as Xlib's macros clash with ours.
#pragma once

#include <string>
#include <vector>

namespace korvo::test {

class LetterKeys {
 public:
  explicit LetterKeys(const std::u32string& letters);
  ~LetterKeys();  // the spare keys are unmapped again
  LetterKeys(const LetterKeys&) = delete;
  LetterKeys& operator=(const LetterKeys&) = delete;

  bool ok() const { return keys_.size() == letters_.size(); }
  // Presses and releases the letter's key; false for a letter not mapped.
  bool Type(char32_t letter) const;

 private:
  std::u32string letters_;
  std::vector<int> keys_;
};

}  // namespace korvo::test
