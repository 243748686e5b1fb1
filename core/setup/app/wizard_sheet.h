// The sheet and its pages (see setup_wizard.h); in a header of its own for
// the window tests, which drive a sheet without running it modally.
#pragma once

#include <map>
#include <memory>

#include <wx/wizard.h>

#include "core/setup/wizard_model.h"

namespace korvo {
class InstallEngine;
}

namespace korvo::setup {

class WizardSheet;

// Control ids the pages keep.
namespace id {
inline constexpr int kWelcomeText = 1028;
inline constexpr int kReadme = 1001;
inline constexpr int kServerOption = 509;
inline constexpr int kServerOptionText = 1053;
inline constexpr int kWorkstationOption = 510;
inline constexpr int kRootDirectory = 511;
inline constexpr int kContactPerson = 1001;
inline constexpr int kMainFaxNumber = 1002;
inline constexpr int kMainPhoneNumber = 1003;
inline constexpr int kOrganization = 1004;
inline constexpr int kDefaultServer = 515;
inline constexpr int kManagerInStartup = 1004;
inline constexpr int kNotifierInStartup = 1066;
inline constexpr int kSummary = 134;
inline constexpr int kProgressText = 133;
inline constexpr int kProgressBar = 1013;
}  // namespace id

// The sheet's window id (its caption's resource number).
inline constexpr int kSheetId = 113;

class SheetPage : public wxWizardPage {
 public:
  SheetPage(WizardSheet* sheet, Page page);
  Page page() const { return page_; }
  wxWizardPage* GetPrev() const override;
  wxWizardPage* GetNext() const override;
  // The model's fields into the controls, and back.
  virtual void ToWindow() {}
  virtual void FromWindow() {}
  virtual void SetProgress(const std::string&) {}
  virtual void StepProgress() {}

 protected:
  WizardSheet* sheet_;
  SetupWizardModel& model();

 private:
  Page page_;
};

class WizardSheet : public wxWizard {
 public:
  // engine may be null (the window tests of the pages); then the progress
  // pages start nothing and the cancel question is the model's alone.
  WizardSheet(SetupWizardModel& model, InstallEngine* engine);
  ~WizardSheet() override;

  SetupWizardModel& model() { return model_; }
  SheetPage* PageOf(Page page) const;
  SheetPage* FirstPage() const { return PageOf(model_.First()); }
  SheetPage* CurrentSheetPage() const { return static_cast<SheetPage*>(GetCurrentPage()); }
  // The Next button (renamed "Ok" on the last page), Back and Cancel.
  wxWindow* NextButton() const { return FindWindow(wxID_FORWARD); }
  wxWindow* BackButton() const { return FindWindow(wxID_BACKWARD); }
  wxWindow* CancelButton() const { return FindWindow(wxID_CANCEL); }
  // The engine's three messages, on the toolkit's thread: the progress
  // page's line and bar, and the end (1: on to the last page, 0: Cancel).
  void ProgressText(const std::string& line);
  void ProgressStep();
  void Finished(int result);

 private:
  void OnChanging(wxWizardEvent& event);
  void OnChanged(wxWizardEvent& event);
  void OnCancel(wxWizardEvent& event);
  SheetPage* ProgressPage() const;
  void Press(wxWindow* button);
  // The worker of the mode, started once.
  void StartWorker();
  // The cancel question; the engine holds its lock while it is open and, on
  // Yes, tells a running worker to stop at its next progress line.
  bool ConfirmCancel();

  SetupWizardModel& model_;
  InstallEngine* engine_;
  std::map<Page, SheetPage*> pages_;
  bool workerStarted_ = false;
};

}  // namespace korvo::setup
