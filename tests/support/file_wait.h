// Waiting for a file to show a text, woken by inotify on its folder: for log
// files and results that other processes write. The bound is only ever
// reached when something hangs.
#pragma once

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include "tests/support/sandbox.h"

namespace korvo::test {

inline constexpr int kFileWaitMs = 120000;

// Waits until the predicate holds; it is asked again whenever something in
// the folder changes. True when it held within the bound.
inline bool WaitForFolder(const std::filesystem::path& folder, const std::function<bool()>& holds,
                          int boundMs = kFileWaitMs) {
  const int fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (fd < 0) return holds();
  inotify_add_watch(fd, folder.c_str(), IN_MODIFY | IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE | IN_ATTRIB);
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
  bool held = holds();
  while (!held) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) > 0) {
      char events[4096];
      while (read(fd, events, sizeof events) > 0) {
      }
    }
    held = holds();
  }
  close(fd);
  return held;
}

// Waits until the file holds the text.
inline bool WaitForText(const std::filesystem::path& file, const std::string& text, int boundMs = kFileWaitMs) {
  return WaitForFolder(
      file.parent_path(), [&] { return Sandbox::readFile(file).find(text) != std::string::npos; }, boundMs);
}

}  // namespace korvo::test
