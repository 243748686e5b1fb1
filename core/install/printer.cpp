#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>

#include "common/trace.h"
#include "core/install/install.h"
#include "platform/desktop_menu.h"
#include "platform/lasterror.h"
#include "platform/print_spooler.h"
#include "platform/system_root.h"

namespace {

namespace fs = std::filesystem;
namespace platform = korvo::platform;

constexpr const char* kQueue = "Korvo_Printer";
constexpr const char* kFilter = "rastertokvf";
constexpr const char* kBackend = "kvf";
constexpr const char* kPpd = "Korvo_Printer.ppd";
constexpr const char* kAgent = "korvocapture";
constexpr const char* kAgentName = "Korvo Capture Agent";

// The failing call by name with the system's text and cupsd's words.
uint32_t Fail(const char* call, bool spooler = false) {
  const uint32_t error = platform::GetLastError();
  const std::string text = platform::SystemErrorText(error);
  if (spooler) DebugPrint("%s E:%s (%s)\n", call, text.c_str(), platform::SpoolerErrorText().c_str());
  else DebugPrint("%s E:%s\n", call, text.c_str());
  return error ? error : EIO;
}

// Copies the media file into the folder (made when missing) under the name,
// with the mode.
bool Place(const std::string& pattern, const std::string& folder, const std::string& name, fs::perms mode) {
  if (!KvMakeDirectories(folder.c_str())) return false;
  const std::string path = folder + "/" + name;
  if (!KvCopy(pattern.c_str(), path.c_str())) return false;
  std::error_code ec;
  fs::permissions(path, mode, ec);
  if (ec) {
    platform::SetLastError(static_cast<uint32_t>(ec.value()));
    return false;
  }
  return true;
}

// Removes the file; ENOENT when it was not there.
bool Remove(const std::string& path) {
  std::error_code ec;
  if (fs::remove(path, ec)) return true;
  platform::SetLastError(ec ? static_cast<uint32_t>(ec.value()) : ENOENT);
  return false;
}

constexpr fs::perms kProgram = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec;
constexpr fs::perms kData = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                            fs::perms::others_read;

}  // namespace

extern "C" {

uint32_t InstallPrintDriver(void) {
  DebugPrint("InstallPrintDriver ...\n");
  const std::string filters = platform::SpoolerFilterFolder();
  DebugPrint(" PrinterDriverDir: '%s'\n", filters.c_str());
  if (!Place("rastertokv?", filters, kFilter, kProgram)) return Fail("KvCopy rastertokvf");
  if (!Place("Korvo_Printer.pp?", platform::SpoolerPpdFolder(), kPpd, kData)) return Fail("KvCopy Korvo_Printer.ppd");
  return 0;
}

uint32_t InstallPortMonitor(const char* root) {
  if (!root || !*root) {
    platform::SetLastError(EINVAL);
    return Fail("InstallPortMonitor");
  }
  // Run as root by cupsd only when no one else may run it: it reaches every
  // user's agent.
  if (!Place("kv?", platform::SpoolerBackendFolder(), kBackend, fs::perms::owner_all))
    return Fail("InstallPortMonitor:KvCopy");
  std::string program = root;
  if (program.back() != '/') program += '/';
  // Each user's agent starts with the desktop session.
  if (!platform::AddMenuItem("Startup", true, kAgentName, {program + kAgent}))
    return Fail("InstallPortMonitor:autostart");
  return 0;
}

uint32_t AddFaxPrinter(void) {
  // cupsd's stock policy "authenticated": job-creating operations
  // authenticate the local peer, so a job's user is the login that printed
  // it and no one's fax can open on another login's desktop.
  const platform::PrinterQueue queue{kQueue, "Korvo Printer", "Fax Printer", "kvf:/",
                                     platform::SpoolerPpdFolder() + "/" + kPpd, "authenticated"};
  return platform::AddPrinterQueue(queue) ? 0 : Fail("AddPrinter", true);
}

uint32_t RemoveFaxPrinter(void) { return platform::DeletePrinterQueue(kQueue) ? 0 : Fail("DeletePrinter", true); }

uint32_t IsFaxPrinterInstalled(void) {
  return platform::PrinterQueueExists(kQueue) ? 0 : Fail("OpenPrinter", true);
}

uint32_t RemovePortMonitor(void) {
  const bool backend = Remove(platform::SpoolerBackendFolder() + "/" + kBackend);
  const uint32_t error = platform::GetLastError();
  const bool entry = platform::DeleteMenuItem("Startup", true, kAgentName);
  if (backend && entry) return 0;
  if (!backend) platform::SetLastError(error);
  return Fail("DeleteMonitor");
}

uint32_t RemovePrintDriver(void) {
  const bool filter = Remove(platform::SpoolerFilterFolder() + "/" + kFilter);
  const uint32_t error = platform::GetLastError();
  const bool ppd = Remove(platform::SpoolerPpdFolder() + "/" + kPpd);
  // Our PPD folder goes; CUPS's own folders stay, unless they came with a
  // system root of the installation's own.
  platform::RemoveEmptyFolders(platform::SpoolerPpdFolder(), platform::SystemRoot().empty() ? "/usr/share/ppd" : "");
  if (filter && ppd) return 0;
  if (!filter) platform::SetLastError(error);
  return Fail("DeletePrinterDriver");
}

}
