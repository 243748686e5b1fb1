// The library's module object: traces when libkorvocore.so is loaded and
// unloaded, and for how long it was loaded.
#include <ctime>

#include "common/trace.h"

namespace {

class CoreModuleApp {
 public:
  CoreModuleApp() : loaded_(std::time(nullptr)) {
    DebugPrint("KORVOCORE: ------- Start ------- Version: %s\n", __DATE__);
  }
  ~CoreModuleApp() {
    unloaded_ = std::time(nullptr);
    DebugPrint("KORVOCORE: ------- Stop -------- loaded %d sec\n", static_cast<int>(unloaded_ - loaded_));
  }

 private:
  std::time_t loaded_;
  std::time_t unloaded_ = 0;
};

CoreModuleApp theModule;

}  // namespace
