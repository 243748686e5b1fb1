// The manager application's rules that need no window: the splash's time,
// the after-installation command line, the status bar's item count.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvo::manager {

inline constexpr const char* kVersionText = "Version 1.30";
inline constexpr const char* kAboutText = "Korvo Manager for Linux";
inline constexpr const char* kHelpAfterInstall = "After Installation";

// Milliseconds of a monotonic clock, wrapping at 32 bits as a tick count does.
uint32_t TickCount();

// The splash stays at least kSplashMs and goes at the first idle moment
// after that; the difference is taken modulo 2^32, so a wrapped clock is fine.
class SplashTime {
 public:
  static constexpr uint32_t kSplashMs = 2500;
  explicit SplashTime(uint32_t shownAt) : shownAt_(shownAt) {}
  bool Expired(uint32_t now) const { return static_cast<uint32_t>(now - shownAt_) > kSplashMs; }

 private:
  uint32_t shownAt_;
};

// The whole command line (the arguments after the program, joined by
// blanks) is exactly "/After_Install".
bool IsAfterInstall(const std::vector<std::string>& arguments);

// "N item(s) selected" when rows are selected, else "N item(s)".
std::string ItemCountText(int selected, int rows);

}  // namespace korvo::manager
