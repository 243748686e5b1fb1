#include "platform/accounts.h"

#include <grp.h>
#include <unistd.h>

#include <algorithm>

namespace korvo::platform {

bool ProcessIsAdministrator() {
  if (geteuid() == 0) return true;
  int count = getgroups(0, nullptr);
  if (count < 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(count) + 1);
  count = getgroups(count, groups.data());
  if (count < 0) return false;
  groups.resize(static_cast<size_t>(count));
  groups.push_back(getegid());
  for (const char* name : kAdministratorGroups) {
    group entry;
    group* found = nullptr;
    std::vector<char> buffer(16384);
    if (getgrnam_r(name, &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        std::find(groups.begin(), groups.end(), found->gr_gid) != groups.end())
      return true;
  }
  return false;
}

}  // namespace korvo::platform
