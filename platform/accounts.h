// The machine's user accounts and who administers the machine.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace korvo::platform {

// The groups whose members administer the machine, as sudo's and su's
// defaults have them.
inline constexpr const char* kAdministratorGroups[] = {"sudo", "wheel"};

// The effective user is root, or the process holds one of the groups above
// (its effective group or a supplementary one): what the kernel grants, not
// what a client says.
bool ProcessIsAdministrator();

}  // namespace korvo::platform
