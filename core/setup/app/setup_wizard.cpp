// Placeholder until the wizard's pages land: no wizard, so setup ends as
// cancelled.
#include "core/setup/app/setup_wizard.h"

namespace korvo::setup {

std::unique_ptr<SetupWizard> MakeSetupWizard(SetupMode, SetupSettings&, InstallEngine&) { return nullptr; }

}  // namespace korvo::setup
