#include "core/setup/manifest.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <set>

#include "platform/file_io.h"
#include "platform/lasterror.h"

namespace korvo {

Manifest::Manifest(const std::string& root) : root_(platform::WithSlash(root)) {}

bool Manifest::exists() const {
  std::ifstream in(path());
  return in.good();
}

bool Manifest::Record(const std::string& relative) const {
  std::FILE* file = std::fopen(path().c_str(), "a");
  if (!file) {
    platform::SetLastError(static_cast<uint32_t>(errno));
    return false;
  }
  const bool written = std::fprintf(file, "%s\n", relative.c_str()) > 0 && std::fflush(file) == 0;
  const int error = errno;
  const bool closed = std::fclose(file) == 0;
  if (written && closed) return true;
  platform::SetLastError(static_cast<uint32_t>(written ? errno : error));
  return false;
}

std::vector<std::string> Manifest::Entries() const {
  std::vector<std::string> out;
  std::set<std::string> seen;
  std::ifstream in(path());
  std::string line;
  while (std::getline(in, line)) {
    // Only paths inside the folder: nothing above it is ever removed.
    if (line.empty() || line[0] == '/' || line == ".." || line.rfind("../", 0) == 0 ||
        line.find("/../") != std::string::npos ||
        (line.size() >= 3 && line.compare(line.size() - 3, 3, "/..") == 0))
      continue;
    if (seen.insert(line).second) out.push_back(line);
  }
  return out;
}

bool Manifest::Delete() const {
  if (platform::DeleteFileByName(path().c_str())) return true;
  return platform::GetLastError() == ENOENT;
}

}  // namespace korvo
