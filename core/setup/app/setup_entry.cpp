#include "core/setup/app/setup_entry.h"

#include "core/setup/app/setup_wizard.h"
#include "desktop/prompt.h"

namespace korvo::setup {
namespace {

int RunSetup(SetupMode mode) {
  SetupSettings settings = SetupSettings::Load();
  InstallEngine engine(settings, desktop::Prompts());
  std::unique_ptr<SetupWizard> wizard = MakeSetupWizard(mode, settings, engine);
  if (!wizard) return 1;
  bool ok = false;
  {
    SheetBridge bridge(*wizard);
    engine.SetSheet(&bridge);
    ok = wizard->Run();
    // A worker still running (a confirmed cancel) stops at its next
    // progress line; what it still sends is answered without the window,
    // and nothing it uses goes before it has ended.
    engine.RequestStop();
    bridge.Close();
    engine.Join();
    engine.SetSheet(nullptr);
  }
  wizard.reset();
  return ok ? 0 : 1;
}

}  // namespace
}  // namespace korvo::setup

extern "C" {

int KvSetupInstall(void) { return korvo::setup::RunSetup(korvo::setup::SetupMode::Install); }
int KvSetupRemove(void) { return korvo::setup::RunSetup(korvo::setup::SetupMode::Remove); }

}
