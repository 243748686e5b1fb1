// Administration programs live in /usr/sbin, which an ordinary login's PATH
// does not name on Debian: tests start them by their full path.
#pragma once

#include <filesystem>
#include <string>

namespace korvo::test {

// The program's path in /usr/sbin or /sbin; the bare name (looked up in PATH)
// when neither holds it.
inline std::string SystemProgram(const std::string& name) {
  for (const char* dir : {"/usr/sbin/", "/sbin/"}) {
    std::error_code ec;
    if (std::filesystem::exists(dir + name, ec)) return dir + name;
  }
  return name;
}

}  // namespace korvo::test
