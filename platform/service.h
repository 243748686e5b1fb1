// The service layer: the server runs as the systemd unit <name>.service.
// Installing writes the unit file into $KORVO_SYSTEMD_DIR (default
// /etc/systemd/system); systemd is asked to reload, stop and so on only where
// it runs and reads that folder. Started by systemd, the service reports its
// status through sd_notify; the controls arrive as signals: STOP is SIGTERM,
// PAUSE SIGUSR1, CONTINUE SIGUSR2. In console mode Ctrl+C (SIGINT) and
// Ctrl+Break (SIGQUIT) go to the console handler.
#pragma once

#include <cstdint>
#include <string>

namespace korvo::platform {

inline constexpr uint32_t kServiceWin32OwnProcess = 16;
inline constexpr uint32_t kServiceDemandStart = 3;

inline constexpr uint32_t kServiceStopped = 1;
inline constexpr uint32_t kServiceStartPending = 2;
inline constexpr uint32_t kServiceStopPending = 3;
inline constexpr uint32_t kServiceRunning = 4;
inline constexpr uint32_t kServiceContinuePending = 5;
inline constexpr uint32_t kServicePausePending = 6;
inline constexpr uint32_t kServicePaused = 7;

inline constexpr uint32_t kServiceControlStop = 1;
inline constexpr uint32_t kServiceControlPause = 2;
inline constexpr uint32_t kServiceControlContinue = 3;
inline constexpr uint32_t kServiceControlInterrogate = 4;

inline constexpr uint32_t kServiceAcceptStop = 1;

inline constexpr uint32_t kCtrlCEvent = 0;
inline constexpr uint32_t kCtrlBreakEvent = 1;

struct ServiceStatus {
  uint32_t serviceType = kServiceWin32OwnProcess;
  uint32_t currentState = kServiceStopped;
  uint32_t controlsAccepted = 0;
  uint32_t win32ExitCode = 0;
  uint32_t serviceSpecificExitCode = 0;
  uint32_t checkPoint = 0;
  uint32_t waitHint = 0;
};

// --- Managing the unit -------------------------------------------------------

// The folder of unit files and the unit file of a service ("Korvo" gives
// "<folder>/korvo.service").
std::string ServiceUnitDir();
std::string ServiceUnitPath(const std::string& serviceName);
// True when systemd runs on this machine and loads units from ServiceUnitDir().
bool SystemdManagesUnitDir();

// The unit folder is there to write into; false with the last error otherwise.
bool OpenServiceManager();
// The descriptor limit of the unit CreateService writes.
inline constexpr unsigned kServiceDescriptorLimit = 16384;
// Writes a new unit file: demand start (not enabled), the program path, the
// descriptor limit above, the account as the unit's user when given (a
// "DOMAIN\" part is dropped; systemd takes no password), and every KORVO_*
// variable of the caller as an Environment= line, so a server installed from
// a moved installation keeps its files where the installer had them. EEXIST
// when the unit exists; EINVAL for a value with control characters.
bool CreateService(const std::string& serviceName, const std::string& displayName, const std::string& programPath,
                   const char* account, const char* password);
// The unit file exists; ENOENT otherwise.
bool OpenService(const std::string& serviceName);
// The target whose .wants folder holds the link of an enabled unit, and that
// link ("<folder>/multi-user.target.wants/korvo.service").
inline constexpr const char* kServiceWantedBy = "multi-user.target";
std::string ServiceWantsLinkPath(const std::string& serviceName);
// Automatic start: the unit enabled. Where systemd manages the unit folder it
// does this itself (systemctl enable/disable); elsewhere the link is made or
// removed here. Disabling a unit that is not enabled succeeds.
bool EnableService(const std::string& serviceName);
bool DisableService(const std::string& serviceName);
// Has systemd start the service and waits for the start job; ENOTSUP where
// systemd does not manage the unit folder.
bool StartServiceUnit(const std::string& serviceName);
// The same for a stop, waiting until the service has stopped.
bool StopServiceUnit(const std::string& serviceName);
// Asks systemd to stop the service; false when systemd does not manage it or
// the service is not active (nothing to stop).
bool ControlServiceStop(const std::string& serviceName);
// Current state of the service as systemd sees it (kServiceStopped where
// systemd does not manage it).
uint32_t QueryServiceState(const std::string& serviceName);
// Removes the unit file and has systemd reload.
bool DeleteService(const std::string& serviceName);

// --- Running as the service --------------------------------------------------

using ServiceMainFunction = void (*)(int argc, char** argv);
using ServiceControlHandler = void (*)(uint32_t control);
using ConsoleControlHandler = bool (*)(uint32_t event);

// Runs serviceMain (argv = the service name) on the calling thread with the
// control signals delivered to the registered handler on a thread of its own;
// returns when serviceMain does. Fails (ENOTSUP) when the process was not
// started by systemd. Call it before any other thread exists, so that every
// thread inherits the blocked control signals.
bool StartServiceCtrlDispatcher(const std::string& serviceName, ServiceMainFunction serviceMain);
// The handler for the service's controls; false when called outside
// StartServiceCtrlDispatcher.
bool RegisterServiceCtrlHandler(const std::string& serviceName, ServiceControlHandler handler);
// Reports the status to systemd (READY, STOPPING, STATUS and ERRNO lines).
bool SetServiceStatus(const ServiceStatus& status);

// Installs (add) or removes the console handler. While one is installed,
// SIGINT and SIGQUIT call it on a control thread; a handler that returns
// false leaves the event to the default action (the process ends). Removing it
// stops and joins that thread. Install it before any other thread exists.
bool SetConsoleCtrlHandler(ConsoleControlHandler handler, bool add);

}  // namespace korvo::platform
