// KorvoPrep's start-up without windows: which mode the command line asks for,
// the rights check, the setup library opened from the launcher's own folder,
// the copy that removal runs from, and the programs started after an
// installation. The title window is the caller's (TitleView).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace korvo::launcher {

enum class LaunchMode { Install, Uninstall, UninstallContinue };

// The arguments after the program name, joined by blanks and compared with
// "/uninstall" and "/uninstall_cont" ignoring ASCII case; anything else
// installs.
LaunchMode ModeOf(const std::vector<std::string>& arguments);

// What an entry point gives when the library or the name is missing.
inline constexpr uint32_t kNoSetupLibrary = 0xC0003030;

// libkorvocore.so opened by its full path (a bare name would make the loader
// search its own folders, not the media), closed on destruction.
class CoreLibraryBinding {
 public:
  explicit CoreLibraryBinding(const std::string& path);
  ~CoreLibraryBinding();
  CoreLibraryBinding(const CoreLibraryBinding&) = delete;
  CoreLibraryBinding& operator=(const CoreLibraryBinding&) = delete;

  bool loaded() const { return handle_ != nullptr; }
  // Why it could not be loaded (the loader's text).
  const std::string& error() const { return error_; }
  // The entry point's result (0 finished with Ok, 1 cancelled), or kNoSetupLibrary.
  uint32_t SetupInstall();
  uint32_t SetupRemove();

 private:
  uint32_t Call(const char* name);
  void* handle_ = nullptr;
  std::string error_;
};

// The full-screen title window, as the caller makes it.
class TitleView {
 public:
  virtual ~TitleView() = default;
  virtual void ShowMaximized() = 0;  // shown and painted before it returns
  // A box with the stop icon, owned by the (hidden) title window.
  virtual void StopBox(const std::string& text, const std::string& caption) = 0;
};

// What the start-up did, for the caller and the tests.
struct LaunchResult {
  int exitCode = 0;           // 0: the mode's work went as asked
  uint32_t setupResult = 0;   // the entry point's result (install and removal)
  std::vector<pid_t> started; // programs started (the caller reaps or leaves them)
  std::string copyFolder;     // removal: the private folder the copy runs from
};

struct LauncherOptions {
  std::string ownFolder;  // the launcher's folder (media, installation or copy)
  std::function<bool()> isAdministrator;            // RunningAsAdministrator
  std::function<void()> settle;                     // the pause after the library is freed
  std::string tempFolder;                           // where removal's copy goes; empty: $TMPDIR or /tmp
};

// The whole start-up of one mode. Nothing is loaded, copied or installed from
// a folder that a login other than root (or the effective user) could change
// (the launcher's library, its files, the media and the folders above them):
// a stop box says why.
LaunchResult RunLauncher(LaunchMode mode, TitleView& title, const LauncherOptions& options);

// The launcher's and the library's file names in every folder.
inline constexpr const char* kLauncherName = "korvoprep";
inline constexpr const char* kCoreLibraryName = "libkorvocore.so";

}  // namespace korvo::launcher
