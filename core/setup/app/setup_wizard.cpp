#include "core/setup/app/setup_wizard.h"

#include <wx/image.h>

#include <wx/utils.h>

#include "core/setup/app/wizard_sheet.h"
#include "core/setup/install_engine.h"
#include "desktop/prompt.h"

namespace korvo::setup {

void WizardSheet::StartWorker() {
  if (!engine_ || workerStarted_) return;
  workerStarted_ = true;
  if (model_.mode() == WizardMode::Remove) engine_->StartRemove();
  else engine_->StartInstall();
}

bool WizardSheet::ConfirmCancel() {
  if (!engine_) return model_.AskCancel();
  return engine_->ConfirmStop([this] { return model_.AskCancel(); });
}

namespace {

// The wizard as the entry point holds it: the model and its sheet, which the
// engine's messages reach through the bridge.
class Wizard final : public SetupWizard {
 public:
  Wizard(SetupMode mode, SetupSettings& settings, InstallEngine& engine)
      : model_(mode == SetupMode::Remove ? WizardMode::Remove : WizardMode::Install, settings, desktop::Prompts(),
               MachineProbes([] { wxBell(); })),
        sheet_(new WizardSheet(model_, &engine)) {}
  // Deleted at once, not later: the sheet uses the model, which goes with this.
  ~Wizard() override { delete sheet_; }

  bool Run() override { return sheet_->RunWizard(sheet_->FirstPage()); }
  wxWindow* Window() override { return sheet_; }
  void OnSetupProgressText(const std::string& line) override { sheet_->ProgressText(line); }
  void OnSetupProgressStep() override { sheet_->ProgressStep(); }
  void OnSetupFinished(int result) override { sheet_->Finished(result); }

 private:
  SetupWizardModel model_;
  WizardSheet* sheet_;
};

}  // namespace

std::unique_ptr<SetupWizard> MakeSetupWizard(SetupMode mode, SetupSettings& settings, InstallEngine& engine) {
  // The wizard's picture is a PNG; the launcher that loaded the library may
  // have its handler already (a second one is reported as a duplicate).
  if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
  return std::make_unique<Wizard>(mode, settings, engine);
}

}  // namespace korvo::setup
