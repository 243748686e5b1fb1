// The setup entry points of libkorvocore.so, for the launcher.
#pragma once

extern "C" {

// Runs the install wizard (the removal wizard) modally: 0 when it ended with
// Ok, 1 when it was cancelled. The worker has ended before either returns.
int KvSetupInstall(void);
int KvSetupRemove(void);

}
