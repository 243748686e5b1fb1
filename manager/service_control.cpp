#include "manager/service_control.h"

#include "core/install/install.h"

namespace korvo::manager {

namespace {

// The installation library's rule: where systemd manages the unit folder,
// this machine's korvo.service; elsewhere the service runs when a server
// answers on the machine's pipe, and it cannot be started from here.
class SystemService final : public ServiceControl {
 public:
  bool IsRunning(const std::string& machine, bool& running) override {
    int state = 0;
    if (!IsServerServiceRunning(machine.c_str(), &state, nullptr)) return false;
    running = state != 0;
    return true;
  }
  bool Start(const std::string& machine) override { return StartServerService(machine.c_str()) != 0; }
};

}  // namespace

ServiceControl& SystemServiceControl() {
  static SystemService service;
  return service;
}

}  // namespace korvo::manager
