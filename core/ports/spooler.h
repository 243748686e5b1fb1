// The spooler calls of the port functions, on CUPS: a printer handle is a
// connection to the CUPS server the environment names (CUPS_SERVER, else
// the system's), made as the user running the monitor.
#pragma once

#include <cstdint>
#include <string>

namespace korvo::ports {

inline constexpr uint32_t kJobControlCancel = 3;

// Connects and checks that the printer exists; false with the last error set.
bool OpenPrinter(const std::string& name, void** printer);
// JOB_CONTROL_CANCEL cancels the job and purges it, so the spooler keeps no
// copy of what was captured; other commands are refused. False with the
// last error set.
bool SetJob(void* printer, uint32_t jobId, uint32_t command);
bool ClosePrinter(void* printer);

}  // namespace korvo::ports
