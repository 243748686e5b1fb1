#include "launcher/launcher.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "common/settings.h"
#include "common/trace.h"
#include "platform/accounts.h"
#include "platform/file_io.h"
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

// After an installation: the manager, the notifier and the print road's
// capture agent for the login that ran setup (jobs printed to the fax
// printer wait for that agent), not only from the next login on.
void StartInstalledPrograms(LaunchResult& result) {
  char buffer[260];
  if (KvGetKorvoDeskName(buffer, sizeof buffer)) {
    const pid_t pid = StartForUser({buffer, "/After_Install"});
    if (pid > 0) result.started.push_back(pid);
  }
  if (KvGetKorvoInstallPath(buffer, sizeof buffer)) {
    for (const char* program : {"korvobell", "korvocapture"}) {
      const pid_t pid = StartForUser({std::string(buffer) + program});
      if (pid > 0) result.started.push_back(pid);
    }
  }
}

// Why setup must not use what is at the path: a login other than root (or
// the effective user) could change it or a folder above it. For a folder,
// everything in it is asked too. Empty when nobody else could.
std::string UntrustedReason(const fs::path& path) {
  std::error_code ec;
  // Nothing there: nothing to load from it (the loader says so).
  if (!fs::exists(fs::symlink_status(path, ec))) return "";
  if (std::string why = platform::WhoElseCouldChange(path.string()); !why.empty()) return why;
  if (!fs::is_directory(path, ec) || fs::is_symlink(path, ec)) return "";
  for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (std::string why = platform::WhoElseCouldChange(it->path().string()); !why.empty()) return why;
  }
  if (ec) return path.string() + ": " + ec.message();
  return "";
}

// The folder the launcher runs from is the private copy that removal made:
// a folder of the launcher's name prefix in the temporary folder, the
// effective user's own and closed to others.
bool IsRemovalCopy(const fs::path& own, const LauncherOptions& options) {
  return own.parent_path() == fs::path(TempParent(options)) &&
         own.filename().string().rfind(std::string(kLauncherName) + ".", 0) == 0 &&
         platform::CheckOwnFolder(own.c_str()) == platform::FolderTrust::kOwn;
}

constexpr const char* kCaption = "Korvo Setup";

// The program of that name in a folder of PATH, "" when there is none.
std::string FoundInPath(const char* name) {
  const char* path = std::getenv("PATH");
  std::string rest = path ? path : "";
  while (!rest.empty()) {
    const size_t colon = rest.find(':');
    const std::string dir = rest.substr(0, colon);
    rest = colon == std::string::npos ? "" : rest.substr(colon + 1);
    if (dir.empty()) continue;
    const fs::path program = fs::path(dir) / name;
    if (access(program.c_str(), X_OK) == 0) return program.string();
  }
  return "";
}

// Started without the rights on a desktop (the menu's "Remove Korvo"): the
// same mode again through pkexec, which asks for an administrator's password.
// pkexec clears the display, so it is passed on through env. True when pkexec
// ran it and was not refused (the result is then that run's).
bool RunThroughPkexec(LaunchMode mode, const LauncherOptions& options, LaunchResult& result) {
  const char* display = std::getenv("DISPLAY");
  const std::string pkexec = FoundInPath("pkexec");
  if (pkexec.empty() || !display || !*display) return false;
  std::vector<std::string> argv = {pkexec, "env", std::string("DISPLAY=") + display};
  if (const char* auth = std::getenv("XAUTHORITY"); auth && *auth) argv.push_back(std::string("XAUTHORITY=") + auth);
  argv.push_back(Join(options.ownFolder, kLauncherName));
  if (mode == LaunchMode::Uninstall) argv.push_back("/uninstall");
  const pid_t pid = platform::StartProcess(argv);
  int code = 0;
  if (pid < 0 || !platform::WaitProcess(pid, code)) return false;
  // 126: the password was not given; 127: not authorised.
  if (code == 126 || code == 127) return false;
  result.exitCode = code;
  return true;
}

// Refuses (with the reason) what another login could have planted: the
// launcher then loads and installs nothing.
bool Trusted(TitleView& title, const fs::path& what) {
  const std::string why = UntrustedReason(what);
  if (why.empty()) return true;
  title.StopBox("Setup does not use files that another login could change.\n" + why, kCaption);
  return false;
}

void SayNotLoaded(TitleView& title, const CoreLibraryBinding& core, const std::string& path) {
  title.StopBox("Setup could not load " + path + ":\n" + core.error(), kCaption);
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
  if (!handle_) {
    const char* text = dlerror();
    error_ = text ? text : "unknown error";
    DebugPrint("korvoprep: cannot load '%s': %s\n", path.c_str(), error_.c_str());
  }
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
    if (mode != LaunchMode::UninstallContinue && RunThroughPkexec(mode, options, result)) return result;
    const std::string command = Join(options.ownFolder, kLauncherName) + (mode == LaunchMode::Uninstall ? " /uninstall" : "");
    title.StopBox("Setup requires Administrator's rights.\nRun it as root: sudo " + command, kCaption);
    result.exitCode = 1;
    return result;
  }
  const fs::path own = options.ownFolder;
  const std::string library = Join(own, kCoreLibraryName);
  std::error_code ec;
  result.exitCode = 1;
  switch (mode) {
    case LaunchMode::Uninstall:
      // The installation's launcher and library, run as root from the copy.
      if (!Trusted(title, library) || !Trusted(title, Join(own, kLauncherName))) break;
      result.exitCode = StartRemovalCopy(options, result);
      break;
    case LaunchMode::UninstallContinue: {
      if (!Trusted(title, library)) break;
      // The copy's own folder is where removal runs; its library goes with
      // it. A launcher started so elsewhere (the media, the installation)
      // deletes nothing.
      fs::current_path(own, ec);
      {
        CoreLibraryBinding core(library);
        title.ShowMaximized();
        result.setupResult = core.SetupRemove();
        if (!core.loaded()) SayNotLoaded(title, core, library);
      }
      if (options.settle) options.settle();
      if (IsRemovalCopy(own, options)) fs::remove(own / kCoreLibraryName, ec);
      result.exitCode = result.setupResult == 0 ? 0 : 1;
      break;
    }
    case LaunchMode::Install: {
      // Every media file is installed into the system as root.
      if (!Trusted(title, own)) break;
      title.ShowMaximized();
      // The engine finds the media files in the current folder.
      fs::current_path(own, ec);
      {
        CoreLibraryBinding core(library);
        result.setupResult = core.SetupInstall();
        if (!core.loaded()) SayNotLoaded(title, core, library);
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
