#include "server/shell.h"

#include <strings.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "platform/eventlog.h"
#include "platform/lasterror.h"
#include "platform/process.h"
#include "platform/service.h"
#include "platform/sync.h"
#include "server/faxserver.h"
#include "server/syslog.h"
#include "server/trace.h"

namespace korvo {

namespace {

constexpr uint32_t kStartWaitHint = 10000;
constexpr uint32_t kStopWaitTurn = 86400000;

std::atomic<bool> gConsoleMode{false};
std::atomic<uint32_t> gSavedLastError{0};
std::atomic<bool> gHaveStatusHandle{false};
std::mutex gStatusMutex;
platform::ServiceStatus gStatus;
uint32_t gCheckPoint = 1;
platform::Event gStopEvent;

// "<system text> (0x<code>)" of the last error, or "" when that does not fit
// 256 characters.
std::string LastErrorText() {
  uint32_t code = platform::GetLastError();
  std::string text = platform::SystemErrorText(code);
  if (text.empty() || text.size() + 14 > 256) return {};
  char buf[256];
  std::snprintf(buf, sizeof buf, "%s (0x%x)", text.c_str(), code);
  return buf;
}

void InstallMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));
void InstallMessage(const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  AddToMessageLog(platform::kEventInformation, kEventInstallMessage, text);
}

void CmdInstallService(const char* account, const char* password) {
  std::string path = platform::ModuleFileName();
  if (path.empty() || path.size() >= 512) {
    InstallMessage("Unable to install %s - %s\n", kServiceDisplayName, LastErrorText().c_str());
    return;
  }
  if (!platform::OpenServiceManager()) {
    InstallMessage("OpenSCManager failed - %s\n", LastErrorText().c_str());
    return;
  }
  if (platform::CreateService(kServiceName, kServiceDisplayName, path, account, password))
    InstallMessage("%s installed.\n", kServiceDisplayName);
  else
    InstallMessage("CreateService failed - %s\n", LastErrorText().c_str());
}

void CmdRemoveService() {
  if (!platform::OpenServiceManager()) {
    InstallMessage("OpenSCManager failed - %s\n", LastErrorText().c_str());
    return;
  }
  if (!platform::OpenService(kServiceName)) {
    InstallMessage("OpenService failed - %s\n", LastErrorText().c_str());
    return;
  }
  if (platform::ControlServiceStop(kServiceName)) {
    InstallMessage("Stopping %s.", kServiceDisplayName);
    while (platform::QueryServiceState(kServiceName) == platform::kServiceStopPending) {
      InstallMessage("%s", ".");
      std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    }
    if (platform::QueryServiceState(kServiceName) == platform::kServiceStopped)
      InstallMessage("\n%s stopped.\n", kServiceDisplayName);
    else
      InstallMessage("\n%s failed to stop.\n", kServiceDisplayName);
  }
  if (platform::DeleteService(kServiceName))
    InstallMessage("%s removed.\n", kServiceDisplayName);
  else
    InstallMessage("DeleteService failed - %s\n", LastErrorText().c_str());
}

void ServiceCtrl(uint32_t control) {
  switch (control) {
    case platform::kServiceControlStop:
      ReportStatusToSCMgr(platform::kServiceStopPending, 0, 0);
      ServiceStop();
      return;
    case platform::kServiceControlPause:
      AddToMessageLog(platform::kEventInformation, kEventServicePaused, "Korvo Service paused");
      break;
    case platform::kServiceControlContinue:
      AddToMessageLog(platform::kEventInformation, kEventServiceResumed, "Korvo Service resumed");
      break;
    default:
      break;
  }
  uint32_t state;
  {
    std::lock_guard<std::mutex> lock(gStatusMutex);
    state = gStatus.currentState;
  }
  ReportStatusToSCMgr(state, 0, 0);
}

void ServiceMain(int argc, char** argv) {
  if (!platform::RegisterServiceCtrlHandler(kServiceName, ServiceCtrl)) return;
  gHaveStatusHandle = true;
  {
    std::lock_guard<std::mutex> lock(gStatusMutex);
    gStatus.serviceType = platform::kServiceWin32OwnProcess;
    gStatus.serviceSpecificExitCode = 0;
  }
  if (ReportStatusToSCMgr(platform::kServiceStartPending, 0, kStartWaitHint)) ServiceStart(argc, argv);
  if (gHaveStatusHandle) ReportStatusToSCMgr(platform::kServiceStopped, gSavedLastError, 0);
}

bool ControlHandler(uint32_t event) {
  if (event != platform::kCtrlCEvent && event != platform::kCtrlBreakEvent) return false;
  char text[64];
  std::snprintf(text, sizeof text, "Stopping %s.\n", kServiceDisplayName);
  AddToMessageLog(platform::kEventInformation, kEventServiceStopped, text);
  ServiceStop();
  return true;
}

void CmdDebugService(int argc, char** argv) {
  SysLog::SetConsoleEcho(true);
  platform::SetConsoleCtrlHandler(ControlHandler, true);
  std::printf("Debugging %s.\n", kServiceDisplayName);
  std::fflush(stdout);
  ServiceStart(argc, argv);
  platform::SetConsoleCtrlHandler(nullptr, false);
}

bool gStartFailed = false;

}  // namespace

bool IsConsoleMode() { return gConsoleMode; }

void AddToMessageLog(uint16_t type, uint32_t eventId, const char* text) {
  gSavedLastError = platform::GetLastError();
  if (gConsoleMode) return;
  std::string entry = text;
  if (type == platform::kEventError) entry += ", (Error:" + std::to_string(gSavedLastError) + ")";
  platform::EventLog log;
  if (log.Open(kShellLogName)) log.Report(kServiceDisplayName, type, 0, eventId, {entry});
}

bool ReportStatusToSCMgr(uint32_t state, uint32_t exitCode, uint32_t waitHint) {
  if (gConsoleMode) return true;
  platform::ServiceStatus status;
  {
    std::lock_guard<std::mutex> lock(gStatusMutex);
    gStatus.controlsAccepted = state == platform::kServiceStartPending ? 0 : platform::kServiceAcceptStop;
    gStatus.currentState = state;
    gStatus.win32ExitCode = exitCode;
    gStatus.waitHint = waitHint;
    if (state == platform::kServiceRunning || state == platform::kServiceStopped)
      gStatus.checkPoint = 0;
    else
      gStatus.checkPoint = gCheckPoint++;
    status = gStatus;
  }
  if (platform::SetServiceStatus(status)) return true;
  AddToMessageLog(platform::kEventError, kEventServiceCallFailed, "SetServiceStatus");
  return false;
}

void ServiceStop() {
  AddToMessageLog(platform::kEventInformation, kEventServiceStopped, "Korvo Service stopped");
  gStopEvent.Set();
}

bool ServiceStart(int argc, char** argv) {
  // The unit's descriptor limit, or the hard limit of the console it runs in.
  DebugTrace("Open descriptors: at most %lu\n", platform::RaiseDescriptorLimit());
  if (argc > 1 && argv[1]) {
    const char* a = argv[1];
    if (*a == '-' || *a == '/') ++a;
    if (*a == 'd' || *a == 'D') SetConsoleTrace(true);
  }
  int ok = 0;
  auto* server = new FaxServer(&ok);
  if (ok) {
    AddToMessageLog(platform::kEventInformation, kEventServiceStarted, "Korvo Service started");
    while (!gStopEvent.Wait(kStopWaitTurn)) {
    }
    delete server;
    return true;
  }
  // The usual guess, unless start-up knows the reason.
  const std::string failed = server->FailureReason().empty()
                                 ? "Could not start Korvo Service. The Service ALREADY started?"
                                 : server->FailureReason();
  AddToMessageLog(platform::kEventError, kEventStartFailed, failed.c_str());
  DebugTrace("%s\n", failed.c_str());
  if (g_SysLog) g_SysLog->Error("%s", failed.c_str());
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  // The modules built so far go as in a shutdown, so none outlives its threads.
  delete server;
  gStartFailed = true;
  return false;
}

int KorvoHubMain(int argc, char** argv) {
  // The port threads mostly wait on their lines: a few pools serve them all.
  platform::LimitMemoryPools(4);
  if (argc > 1 && (argv[1][0] == '-' || argv[1][0] == '/')) {
    const char* option = argv[1] + 1;
    if (strcasecmp(option, "install") == 0) {
      CmdInstallService(argc > 2 ? argv[2] : nullptr, argc > 3 ? argv[3] : nullptr);
      return 0;
    }
    if (strcasecmp(option, "remove") == 0) {
      CmdRemoveService();
      return 0;
    }
    if (strcasecmp(option, "debug") == 0) {
      gConsoleMode = true;
      CmdDebugService(argc, argv);
      return gStartFailed ? 1 : 0;
    }
  }
  std::printf("%s -install          to install the service\n", kServiceName);
  std::printf("%s -remove           to remove the service\n", kServiceName);
  std::printf("%s -debug <params>   to run as a console app for debugging\n", kServiceName);
  std::printf("\nStartServiceCtrlDispatcher being called.\n");
  std::printf("This may take several seconds.  Please wait.\n");
  std::fflush(stdout);
  if (!platform::StartServiceCtrlDispatcher(kServiceName, ServiceMain)) {
    AddToMessageLog(platform::kEventError, kEventServiceCallFailed, "StartServiceCtrlDispatcher failed.");
    return 1;
  }
  return gStartFailed ? 1 : 0;
}

}  // namespace korvo
