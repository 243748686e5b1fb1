#include "platform/system_root.h"

#include <unistd.h>

#include <cstdlib>

namespace korvo::platform {

std::string SystemRoot() {
  const char* root = std::getenv("KORVO_SYSTEM_ROOT");
  std::string r = root ? root : "";
  while (!r.empty() && r.back() == '/') r.pop_back();
  return r;
}

std::string SystemPath(const std::string& absolute) { return SystemRoot() + absolute; }

void RemoveEmptyFolders(const std::string& folder, const std::string& stop) {
  const std::string root = SystemRoot();
  std::string dir = folder;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  while (!dir.empty() && dir != "/" && dir != root && dir != stop && dir.size() > root.size()) {
    if (rmdir(dir.c_str()) != 0) return;
    const size_t slash = dir.rfind('/');
    if (slash == std::string::npos || slash == 0) return;
    dir.erase(slash);
  }
}

}  // namespace korvo::platform
