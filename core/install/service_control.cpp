#include <strings.h>

#include <cerrno>
#include <string>

#include "common/network_channel.h"
#include "core/install/install.h"
#include "platform/accounts.h"
#include "platform/lasterror.h"
#include "platform/local_socket.h"
#include "platform/print_spooler.h"
#include "platform/service.h"

namespace {

constexpr const char* kServiceName = "Korvo";
constexpr const char* kServiceDisplayName = "Korvo Server";
constexpr const char* kSpoolerName = "Spooler";

bool IsLocal(const char* machine) { return !machine || !*machine || korvo::platform::IsThisMachine(machine); }

// systemd answers for the unit only on this machine and only where it reads
// the unit folder the installation writes.
bool SystemdAnswers(const char* machine) { return IsLocal(machine) && korvo::platform::SystemdManagesUnitDir(); }

bool ServerAnswers(const char* machine) {
  korvo::ClientPipe pipe;
  const uint32_t saved = korvo::platform::GetLastError();
  const bool open = pipe.Connect(IsLocal(machine) ? "." : machine) != 0;
  korvo::platform::SetLastError(saved);
  return open;
}

}  // namespace

extern "C" {

int IsServerServiceRunning(const char* machine, int* running, const char* serviceName) {
  namespace platform = korvo::platform;
  const std::string name = serviceName && *serviceName ? serviceName : kServiceName;
  // The print spooler is CUPS, running when cupsd answers, wherever it runs.
  if (strcasecmp(name.c_str(), kSpoolerName) == 0 && IsLocal(machine)) {
    if (running) *running = platform::SpoolerAnswers();
    return 1;
  }
  if (SystemdAnswers(machine)) {
    if (!platform::OpenService(name)) return 0;
    if (running) *running = platform::QueryServiceState(name) == platform::kServiceRunning;
    return 1;
  }
  if (running) *running = ServerAnswers(machine);
  return 1;
}

int StartServerService(const char* machine) {
  if (!IsLocal(machine)) {
    korvo::platform::SetLastError(ENOTSUP);
    return 0;
  }
  return korvo::platform::OpenService(kServiceName) && korvo::platform::StartServiceUnit(kServiceName);
}

int StopServerService(const char* machine) {
  if (!SystemdAnswers(machine)) {
    korvo::platform::SetLastError(ENOTSUP);
    return 0;
  }
  return korvo::platform::OpenService(kServiceName) && korvo::platform::ControlServiceStop(kServiceName);
}

int InstallServerService(const char* machine, const char* programPath, const char* account, const char* password) {
  namespace platform = korvo::platform;
  if (!IsLocal(machine)) {
    platform::SetLastError(ENOTSUP);
    return 0;
  }
  if (!programPath || !*programPath) {
    platform::SetLastError(EINVAL);
    return 0;
  }
  if (!platform::OpenServiceManager()) return 0;
  if (!platform::CreateService(kServiceName, kServiceDisplayName, programPath, account, password)) return 0;
  if (platform::EnableService(kServiceName)) return 1;
  // A unit that would not start with the machine is not installed.
  const uint32_t error = platform::GetLastError();
  platform::DeleteService(kServiceName);
  platform::SetLastError(error);
  return 0;
}

int RemoveServerService(const char* machine) {
  namespace platform = korvo::platform;
  if (!IsLocal(machine)) {
    platform::SetLastError(ENOTSUP);
    return 0;
  }
  if (!platform::OpenServiceManager() || !platform::OpenService(kServiceName)) return 0;
  if (platform::SystemdManagesUnitDir() && platform::QueryServiceState(kServiceName) != platform::kServiceStopped)
    platform::StopServiceUnit(kServiceName);
  if (!platform::DisableService(kServiceName)) return 0;
  return platform::DeleteService(kServiceName);
}

int RunningAsAdministrator(void) { return korvo::platform::ProcessHasSystemRights(); }

}
