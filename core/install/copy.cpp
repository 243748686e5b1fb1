#include <cerrno>
#include <string>

#include "common/trace.h"
#include "core/install/install.h"
#include "platform/lasterror.h"
#include "platform/lz_expand.h"

extern "C" int KvCopy(const char* pattern, const char* destination) {
  namespace platform = korvo::platform;
  const std::string text = pattern ? pattern : "";
  const std::string target = destination ? destination : "";
  // The media folder is the pattern's own, the current folder for a bare
  // name.
  const size_t slash = text.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : text.substr(0, slash);
  const std::string name = slash == std::string::npos ? text : text.substr(slash + 1);
  const std::string found = name.empty() || target.empty() ? "" : platform::FindFirstMatch(folder, name);
  if (found.empty()) {
    platform::SetLastError(ENOENT);
    return 0;
  }
  if (platform::ExpandFile(folder + "/" + found, target)) return 1;
  DebugPrint("KvCopy failed: '%s' to '%s' dwError=%d\n", text.c_str(), target.c_str(),
             static_cast<int>(platform::GetLastError()));
  return 0;
}
