// What the installation tests look at in their sandbox: folder listings,
// modes, and media packed as setup finds them.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/capture/programs.h"
#include "tests/support/sandbox.h"

namespace korvo::test {

// Every path below the folder, relative and sorted, but those that begin
// with one of the left-out prefixes.
inline std::vector<std::string> Tree(const std::filesystem::path& dir, const std::vector<std::string>& leftOut = {}) {
  std::vector<std::string> out;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
       it != std::filesystem::recursive_directory_iterator(); ++it) {
    const std::string name = std::filesystem::relative(it->path(), dir).string();
    if (std::none_of(leftOut.begin(), leftOut.end(), [&](const std::string& p) { return name.rfind(p, 0) == 0; }))
      out.push_back(name);
  }
  std::sort(out.begin(), out.end());
  return out;
}

inline unsigned Mode(const std::filesystem::path& p) {
  struct stat st{};
  stat(p.c_str(), &st);
  return st.st_mode & 07777;
}

// Copies the files into the media folder packed by the built szddpack.
inline void PackMedia(const std::filesystem::path& media, const std::vector<std::filesystem::path>& files) {
  std::filesystem::create_directories(media);
  for (const std::filesystem::path& file : files) {
    const std::filesystem::path copy = media / file.filename();
    std::filesystem::copy_file(file, copy);
    ASSERT_EQ(RunProgram({{(BuildDir() / "tools/szddpack").string(), copy.string()}, "/dev/null", "/dev/null",
                          "/dev/null", {}}),
              0)
        << file;
    std::filesystem::remove(copy);
  }
}

}  // namespace korvo::test
