// A stand-in for libkorvocore.so's two setup entry points, for the launcher's
// tests without a display: each call is written as "<name> <current folder>"
// into $KORVO_FAKE_CORE_LOG and returns $KORVO_FAKE_CORE_RESULT. Loading it
// at all writes $KORVO_MARKER_FILE (its constructor runs before any call).
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>

namespace {

int Record(const char* name) {
  char cwd[PATH_MAX] = "";
  if (!getcwd(cwd, sizeof cwd)) cwd[0] = 0;
  if (const char* log = std::getenv("KORVO_FAKE_CORE_LOG")) std::ofstream(log, std::ios::app) << name << ' ' << cwd << '\n';
  const char* result = std::getenv("KORVO_FAKE_CORE_RESULT");
  return result ? std::atoi(result) : 0;
}

__attribute__((constructor)) void MarkLoaded() {
  if (const char* marker = std::getenv("KORVO_MARKER_FILE")) std::ofstream(marker) << "loaded\n";
}

}  // namespace

extern "C" int KvSetupInstall() { return Record("install"); }
extern "C" int KvSetupRemove() { return Record("remove"); }
