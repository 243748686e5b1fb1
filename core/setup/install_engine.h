// The work of setup and removal: files from the installation media into the
// root folder, the machine's values, the fax printer, the server's service,
// the menu group, the uninstall entry and the users' import, and back. It
// runs on a worker thread of its own and reports to its wizard through a
// SetupSheet; without a sheet it works silently and asks through the
// prompter it was given. No wx here: the wizard's side is core/setup/app.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "core/setup/setup_settings.h"
#include "core/setup/suite_files.h"
#include "desktop/prompt.h"

namespace korvo {

// The wizard as the engine's worker sees it. Every call comes from the
// worker thread and returns once the window's thread has handled it.
class SetupSheet {
 public:
  virtual ~SetupSheet() = default;
  // SetupProgressText: the progress line.
  virtual void ProgressText(const std::string& line) = 0;
  // SetupProgressStep: one step of the progress bar.
  virtual void ProgressStep() = 0;
  // SetupFinished: 1 success, 0 failure.
  virtual void Finished(int result) = 0;
  // A message box owned by the wizard; its answer.
  virtual desktop::Answer Ask(const std::string& text, const std::string& caption, desktop::Buttons buttons,
                              desktop::Icon icon) = 0;
  // The wait cursor on or off.
  virtual void Busy(bool on) = 0;
};

// Message numbers of the three messages, for the wizard's events.
inline constexpr int kSetupProgressText = 0x464;
inline constexpr int kSetupProgressStep = 0x465;
inline constexpr int kSetupFinished = 0x466;

// Removal has a part to take: one marked installed, or one whose files an
// installation recorded in the manifest under the settings' root folder.
bool InstallationFound(const SetupSettings& settings);

class InstallEngine {
 public:
  // A pause of the worker (waiting for the service). The default waits on the
  // engine and ends early when the worker is told to stop.
  using Pause = std::function<void(std::chrono::milliseconds)>;

  // Neither is owned; both must outlive the engine.
  InstallEngine(SetupSettings& settings, desktop::Prompter& prompts, Pause pause = {});
  // Stops the worker at its next progress line and joins it.
  ~InstallEngine();
  InstallEngine(const InstallEngine&) = delete;
  InstallEngine& operator=(const InstallEngine&) = delete;

  SetupSettings& settings() { return settings_; }
  // Null: no window (boxes through the prompter, no messages). The sheet
  // must answer until the worker has been joined.
  void SetSheet(SetupSheet* sheet) { sheet_ = sheet; }
  SetupSheet* sheet() const { return sheet_; }

  // The worker bodies: each ends with SetupFinished(result) unless it was
  // told to stop. Run on the caller's thread.
  bool Install();
  bool Remove();

  // A worker thread running Install or Remove. One worker per engine.
  void StartInstall();
  void StartRemove();
  // Tells the worker to stop at its next progress line (it then reports
  // nothing and sends no SetupFinished) and wakes a pause.
  void RequestStop();
  bool StopRequested() const;
  // Waits for the worker, if one was started. The sheet must answer the
  // worker's calls until then (or answer them itself once closed).
  void Join();

  // The cancel question of the wizard: asked while holding the engine lock,
  // so the worker waits at its next progress line until it is answered. A
  // true answer tells the worker to stop. Returns the answer.
  bool ConfirmStop(const std::function<bool()>& question);

  // The lock the worker takes and leaves at every progress line.
  std::mutex& lock() { return lock_; }

  // One progress line (printf-style). False when the worker is to stop.
  bool Progress(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // The error box of a failed step.
  void ReportError(const std::string& step);
  // A message box (through the sheet, else the prompter).
  desktop::Answer Ask(const std::string& text, const std::string& caption, desktop::Buttons buttons,
                      desktop::Icon icon);

  uint32_t lastError() const { return lastError_; }
  // The most recent progress line sent, empty before the first.
  std::string lastProgressText() const;
  // The line being sent: formatted, maybe still waiting for the lock.
  std::string pendingProgressText() const;

 private:
  void Wait(std::chrono::milliseconds time);
  void Busy(bool on);
  bool UnderWaitCursor(const std::function<bool()>& work);
  // Takes the machine's accounts into the user book; the logins it leaves out
  // are named to the setup user in one box.
  void ImportUsers();
  // The error box of a step, unless the worker is stopping.
  void Fail(const std::string& step);
  // Sends SetupFinished unless the worker is stopping; the result.
  bool Finish(bool ok);
  // Stores a code returned by a printer function as the last error; false.
  bool Failed(uint32_t code);
  // A step CUPS refused: its box gives cupsd's own words, not an errno's.
  bool FailedAtSpooler(uint32_t code, std::string refusal);

  bool VersionCheck(bool server, bool& skip);
  bool InstallWorkstation();
  bool InstallServer();
  bool MakeRootDirectories();
  bool CopyWithRetry(const std::string& pattern, const std::string& destination);
  bool CopyPart(SuitePart part);
  bool CopyFolder(const std::string& name);
  bool Record(const std::string& relative);
  bool CopyClientFiles();
  bool CopyServerFiles();
  bool WriteServerValues();
  bool WriteWorkstationValues();
  bool RemoveService();
  bool InstallService();
  bool InstallPrinter();
  void RemovePrinterParts();
  void OpenPrinterSettings();
  bool InstallProgramGroup();
  bool BuildProgramGroup();
  void RemoveOldGroup();
  bool WriteUninstallEntry();
  bool RemoveServer();
  bool RemoveWorkstation();
  bool RemovePrinter();
  bool RemoveInstalledFile(const std::string& root, const std::string& name);
  bool RemoveInstalledFiles();
  void Run(bool (InstallEngine::*body)());

  SetupSettings& settings_;
  desktop::Prompter& prompts_;
  Pause pause_;
  SetupSheet* sheet_ = nullptr;
  uint32_t lastError_ = 0;
  std::string lastRefusal_;
  std::mutex lock_;
  mutable std::mutex textLock_;
  std::string pending_;
  std::string last_;
  bool haveLast_ = false;
  mutable std::mutex stopLock_;
  std::condition_variable stopWake_;
  bool stop_ = false;
  bool removing_ = false;
  bool filesRemoved_ = false;  // this run's removal took the installed files
  bool busy_ = false;  // the wait cursor is on
  std::thread worker_;
};

}  // namespace korvo
