// The setup wizard as the entry points see it: made for one mode over the
// settings and the engine, run modally, then destroyed.
#pragma once

#include <memory>

#include "core/setup/app/sheet_bridge.h"
#include "core/setup/install_engine.h"
#include "core/setup/setup_settings.h"

namespace korvo::setup {

enum class SetupMode { Install, Remove };

class SetupWizard : public SetupWindow {
 public:
  // Modal; true when it ended with Ok on its last page, false on Cancel.
  virtual bool Run() = 0;
};

// The wizard of the mode's pages, without a parent. It starts the engine's
// worker (InstallEngine::StartInstall / StartRemove) from its progress page
// and asks its cancel question through InstallEngine::ConfirmStop.
std::unique_ptr<SetupWizard> MakeSetupWizard(SetupMode mode, SetupSettings& settings, InstallEngine& engine);

}  // namespace korvo::setup
