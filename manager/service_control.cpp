#include "manager/service_control.h"

#include "platform/local_socket.h"
#include "platform/neighbourhood.h"
#include "platform/process.h"
#include "platform/service.h"

namespace korvo::manager {

namespace {

// Where systemd manages the unit folder, this machine's korvo.service; else
// (a console server, a sandbox, another machine) the query succeeds and the
// service runs when a server answers on the machine's pipe.
class SystemService final : public ServiceControl {
 public:
  bool IsRunning(const std::string& machine, bool& running) override {
    if (Managed(machine)) {
      running = platform::QueryServiceState("Korvo") == platform::kServiceRunning;
      return true;
    }
    platform::LanNeighbourhood net;
    running = net.OpenServer("\\\\" + machine + "\\PIPE\\Korvo") != nullptr;
    return true;
  }
  bool Start(const std::string& machine) override {
    return Managed(machine) && platform::RunProcess({"systemctl", "start", "korvo.service"});
  }

 private:
  static bool Managed(const std::string& machine) {
    return platform::IsThisMachine(machine.c_str()) && platform::SystemdManagesUnitDir();
  }
};

}  // namespace

ServiceControl& SystemServiceControl() {
  static SystemService service;
  return service;
}

}  // namespace korvo::manager
