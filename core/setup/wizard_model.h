// The setup wizard's behaviour without windows: what each page shows on
// entering, what it checks and stores on leaving, the walk between pages, the
// cancel question, and the progress page's line. The wx sheet
// (core/setup/app) shows the fields below and hands the edits back.
#pragma once

#include <optional>
#include <string>

#include "core/setup/setup_settings.h"
#include "core/setup/wizard_pages.h"
#include "desktop/prompt.h"

class wxWindow;

namespace korvo::setup {

inline constexpr const char* kWelcomeText =
    "This program will install Korvo, a network fax service system on your computer.\n\n"
    "This system will enable you to send and receive faxes from any client which resides on your network.";
inline constexpr const char* kDoneTexts[2] = {
    "Congratulations!\n\nKorvo has been succesfully installed.",
    "Click  'Ok' to exit, and start Korvo Manager.\nClick 'Cancel' to exit without starting Korvo Manager."};
inline constexpr const char* kRemoveWelcomeTexts[2] = {
    "This program will uninstall Korvo.", "Click on  'Next'  to uninstall Korvo, or\nClick on  'Cancel'  to exit."};
inline constexpr const char* kRemoveFinalText = "Please wait to finish uninstalling Korvo...";
inline constexpr const char* kRemoveDoneTexts[2] = {
    "Thank you for using Velmora Korvo.\n\nKorvo components have been removed from the system.",
    "Click  'Ok' to exit."};
// Removal found nothing installed.
inline constexpr const char* kNothingRemovedTexts[2] = {
    "Thank you for using Velmora Korvo.\n\nKorvo was not installed on this system: nothing has been removed.",
    "Click  'Ok' to exit."};
inline constexpr const char* kServerOption = "&Server and Workstation installation and setup";
inline constexpr const char* kWorkstationOption = "&Workstation installation and setup";
inline constexpr const char* kManagerCheck = "Place shortcut for Korvo Manager on Desktop";
inline constexpr const char* kNotifierCheck = "Put Korvo Notifier to Startup group";

// Text limits of the edits, in characters.
inline constexpr size_t kRootLimit = 256;
inline constexpr size_t kMainInfoLimit = 32;
inline constexpr size_t kOrganizationLimit = 64;
inline constexpr size_t kServerNameLimit = 64;
inline constexpr size_t kProgressLimit = 128;
inline constexpr int kProgressStep = 2;  // of a bar from 0 to 100

// The summary of the Final page.
std::string SetupSummary(const SetupSettings& settings);

class SetupWizardModel {
 public:
  // `networkChecked` is the once-per-process flag of the Welcome page's
  // network check (null: the process's own).
  SetupWizardModel(WizardMode mode, SetupSettings& settings, desktop::Prompter& prompts, SetupProbes probes,
                   bool* networkChecked = nullptr);

  WizardMode mode() const { return mode_; }
  // The window that owns the boxes (the sheet).
  void SetOwner(wxWindow* owner) { owner_ = owner; }
  SetupSettings& settings() { return settings_; }
  const SetupSettings& settings() const { return settings_; }

  // The walk from a page, by the settings as they are now.
  std::optional<Page> Next(Page from) const;
  std::optional<Page> Previous(Page from) const;
  Page First() const { return PagesOf(mode_).front(); }

  // The page became active: its fields are filled from the settings.
  void Enter(Page page);
  // The page is being left (forward: Next): its fields go back into the
  // settings; false keeps the page (after saying why).
  bool Leave(Page page, bool forward);

  // "Do you want to cancel Korvo Setup ...?"; true on Yes. The sheet asks it
  // through the engine, which holds its lock while the box is open.
  bool AskCancel();

  // The removal's last page: what it removed, or that nothing was installed
  // (as the settings were when the wizard started).
  const char* const* RemoveDoneTexts() const { return somethingToRemove_ ? kRemoveDoneTexts : kNothingRemovedTexts; }

  // The progress page's line as shown: cut to its limit, then 33 blanks.
  static std::string ProgressLine(const std::string& line);

  // The fields the pages show.
  std::string welcome;
  std::string readme;
  bool serverChoice = false;
  bool workstationChoice = false;
  std::string rootDirectory;
  std::string contactPerson, mainFaxNumber, mainPhoneNumber, organization;
  std::string defaultServer;
  bool managerInStartup = false;
  bool notifierInStartup = true;
  std::string summary;

 private:
  bool LeaveOptions(bool forward);
  bool LeaveWorkStation(bool forward);

  WizardMode mode_;
  SetupSettings& settings_;
  desktop::Prompter& prompts_;
  SetupProbes probes_;
  bool* networkChecked_;
  wxWindow* owner_ = nullptr;
  bool somethingToRemove_ = true;
};

}  // namespace korvo::setup
