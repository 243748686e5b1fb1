// How the manager asks for and starts the service of a server's machine.
// The program's is the installation library's; tests may give their own.
#pragma once

#include <string>

namespace korvo::manager {

class ServiceControl {
 public:
  virtual ~ServiceControl() = default;
  // False when the service could not be asked; else running is set.
  virtual bool IsRunning(const std::string& machine, bool& running) = 0;
  virtual bool Start(const std::string& machine) = 0;
};

// The installation library's service control.
ServiceControl& SystemServiceControl();

}  // namespace korvo::manager
