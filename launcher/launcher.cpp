#include "launcher/launcher.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "common/settings.h"
#include "common/trace.h"
#include "platform/accounts.h"
#include "platform/lasterror.h"
#include "platform/process.h"
#include "platform/tempfile.h"

namespace korvo::launcher {

namespace fs = std::filesystem;

namespace {

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string Join(const fs::path& folder, const char* name) { return (folder / name).string(); }

// Under sudo the manager and the notifier belong to the person who called
// it, not to root: their settings, folders and tray are that user's.
pid_t StartForUser(const std::vector<std::string>& argv) {
  if (const auto invoker = platform::SudoInvoker()) return platform::StartProcessAs(argv, *invoker);
  return platform::StartProcess(argv);
}

std::string TempParent(const LauncherOptions& options) {
  if (!options.tempFolder.empty()) return options.tempFolder;
  const char* tmp = std::getenv("TMPDIR");
  return tmp && *tmp ? tmp : "/tmp";
}

// Copies the launcher and the library into a new private folder and starts
// the copy for the removal itself: the installed files can then be deleted.
// A copy that fails removes the folder and starts nothing.
int StartRemovalCopy(const LauncherOptions& options, LaunchResult& result) {
  const std::string folder = platform::MakePrivateFolder(TempParent(options), "korvoprep.");
  if (folder.empty()) {
    DebugPrint("korvoprep: no private folder in '%s': %s\n", TempParent(options).c_str(),
          platform::SystemErrorText(platform::GetLastError()).c_str());
    return 1;
  }
  for (const char* name : {kCoreLibraryName, kLauncherName}) {
    std::error_code ec;
    fs::copy_file(fs::path(options.ownFolder) / name, fs::path(folder) / name, ec);
    if (ec) {
      DebugPrint("korvoprep: cannot copy '%s' to '%s': %s\n", Join(options.ownFolder, name).c_str(), folder.c_str(),
            ec.message().c_str());
      fs::remove_all(folder, ec);
      return 1;
    }
  }
  const pid_t pid = platform::StartProcess({Join(folder, kLauncherName), "/uninstall_cont"});
  if (pid < 0) {
    DebugPrint("korvoprep: cannot start the copy: %s\n", platform::SystemErrorText(platform::GetLastError()).c_str());
    std::error_code ec;
    fs::remove_all(folder, ec);
    return 1;
  }
  result.started.push_back(pid);
  result.copyFolder = folder;
  return 0;
}

void StartInstalledPrograms(LaunchResult& result) {
  char buffer[260];
  if (KvGetKorvoDeskName(buffer, sizeof buffer)) {
    const pid_t pid = StartForUser({buffer, "/After_Install"});
    if (pid > 0) result.started.push_back(pid);
  }
  if (KvGetKorvoInstallPath(buffer, sizeof buffer)) {
    const pid_t pid = StartForUser({std::string(buffer) + "korvobell"});
    if (pid > 0) result.started.push_back(pid);
  }
}

}  // namespace

LaunchMode ModeOf(const std::vector<std::string>& arguments) {
  std::string line;
  for (const std::string& a : arguments) line += (line.empty() ? "" : " ") + a;
  if (EqualsIgnoringCase(line, "/uninstall")) return LaunchMode::Uninstall;
  if (EqualsIgnoringCase(line, "/uninstall_cont")) return LaunchMode::UninstallContinue;
  return LaunchMode::Install;
}

CoreLibraryBinding::CoreLibraryBinding(const std::string& path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) DebugPrint("korvoprep: cannot load '%s': %s\n", path.c_str(), dlerror());
}

CoreLibraryBinding::~CoreLibraryBinding() {
  if (handle_) dlclose(handle_);
}

uint32_t CoreLibraryBinding::Call(const char* name) {
  if (!handle_) return kNoSetupLibrary;
  auto entry = reinterpret_cast<int (*)()>(dlsym(handle_, name));
  if (!entry) return kNoSetupLibrary;
  return static_cast<uint32_t>(entry());
}

uint32_t CoreLibraryBinding::SetupInstall() { return Call("KvSetupInstall"); }
uint32_t CoreLibraryBinding::SetupRemove() { return Call("KvSetupRemove"); }

LaunchResult RunLauncher(LaunchMode mode, TitleView& title, const LauncherOptions& options) {
  LaunchResult result;
  if (!options.isAdministrator()) {
    title.StopBox("Setup requires Administrator's rights.", "Korvo Setup");
    result.exitCode = 1;
    return result;
  }
  const fs::path own = options.ownFolder;
  std::error_code ec;
  switch (mode) {
    case LaunchMode::Uninstall:
      result.exitCode = StartRemovalCopy(options, result);
      break;
    case LaunchMode::UninstallContinue: {
      // The copy's own folder is where removal runs; its library goes with it.
      fs::current_path(own, ec);
      {
        CoreLibraryBinding core(Join(own, kCoreLibraryName));
        title.ShowMaximized();
        result.setupResult = core.SetupRemove();
      }
      if (options.settle) options.settle();
      fs::remove(own / kCoreLibraryName, ec);
      result.exitCode = result.setupResult == 0 ? 0 : 1;
      break;
    }
    case LaunchMode::Install: {
      title.ShowMaximized();
      // The engine finds the media files in the current folder.
      fs::current_path(own, ec);
      {
        CoreLibraryBinding core(Join(own, kCoreLibraryName));
        result.setupResult = core.SetupInstall();
      }
      if (options.settle) options.settle();
      if (result.setupResult == 0) StartInstalledPrograms(result);
      result.exitCode = result.setupResult == 0 ? 0 : 1;
      break;
    }
  }
  return result;
}

}  // namespace korvo::launcher
