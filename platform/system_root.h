// The system folders an installation writes into (CUPS's ServerBin, the PPD
// folder, the common menu and autostart folders) lie under
// $KORVO_SYSTEM_ROOT when it is set, so a whole installation can be moved
// under one folder; unset, they are the system's own.
#pragma once

#include <string>

namespace korvo::platform {

// "" or the value of KORVO_SYSTEM_ROOT, without a trailing '/'.
std::string SystemRoot();
// An absolute system path under the system root.
std::string SystemPath(const std::string& absolute);

// Removes the folder and then each parent in turn while it is empty, up to
// but not including the first of: the system root (where one is set), the
// given stop folder, "/". For the folders an installation made and its
// removal leaves empty.
void RemoveEmptyFolders(const std::string& folder, const std::string& stop);

}  // namespace korvo::platform
