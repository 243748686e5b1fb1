// A private X server for the GUI tests: `Xvfb -displayfd -nolisten tcp` on a
// display number it picks itself, so parallel test programs never meet. While
// it lives, DISPLAY names it and GTK is kept to X11 without the accessibility
// bus. It is stopped by its PID, and dies with the test program.
#pragma once

#include <string>
#include <sys/types.h>

namespace korvo::test {

class Xvfb {
 public:
  Xvfb();  // throws std::runtime_error when the server does not come up
  ~Xvfb();
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;

  const std::string& display() const { return display_; }  // ":N"

 private:
  pid_t pid_ = -1;
  std::string display_;
};

}  // namespace korvo::test
