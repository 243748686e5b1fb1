// The service shell of KorvoHub: command line, service main and control
// handler, status reports, and the shell's own event entries (source
// "Korvo Server").
#pragma once

#include <cstdint>

namespace korvo {

inline constexpr char kServiceName[] = "Korvo";
inline constexpr char kServiceDisplayName[] = "Korvo Server";

// The shell's event ids.
inline constexpr uint32_t kEventServiceStarted = 9000;
inline constexpr uint32_t kEventLogFailed = 9002;
inline constexpr uint32_t kEventStartFailed = 9005;
inline constexpr uint32_t kEventServiceCallFailed = 9006;
inline constexpr uint32_t kEventServiceStopped = 9010;
inline constexpr uint32_t kEventServicePaused = 9011;
inline constexpr uint32_t kEventServiceResumed = 9012;
inline constexpr uint32_t kEventInstallMessage = 9088;

// The event log that holds the shell's entries (where its source is
// registered).
inline constexpr char kShellLogName[] = "System";

// Console mode ("-debug"): no status reports and no shell entries.
bool IsConsoleMode();

// One shell entry: type (platform::kEventError, ...), id and text; an error
// entry carries "<text>, (Error:<last error>)". The last error is saved first
// and becomes the exit code of the final STOPPED report.
void AddToMessageLog(uint16_t type, uint32_t eventId, const char* text);

// Reports the service state (controls accepted: none while starting, else
// STOP); true at once in console mode.
bool ReportStatusToSCMgr(uint32_t state, uint32_t exitCode, uint32_t waitHint);

// The stop routine: entry 9010, then the stop event.
void ServiceStop();

// The service start routine: builds the FaxServer, waits for the stop event,
// and deletes it. False when start-up failed.
bool ServiceStart(int argc, char** argv);

// The program's entry point.
int KorvoHubMain(int argc, char** argv);

}  // namespace korvo
