#include "platform/accounts.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

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

std::vector<Account> MachineAccounts() {
  std::vector<Account> accounts;
  setpwent();
  while (const passwd* p = getpwent())
    accounts.push_back({p->pw_name ? p->pw_name : "", p->pw_uid, p->pw_gecos ? p->pw_gecos : ""});
  endpwent();
  return accounts;
}

UidRange OrdinaryUidRange(const std::string& loginDefs) {
  UidRange range;
  std::ifstream in(loginDefs);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string key;
    unsigned long value = 0;
    if (!(words >> key) || key[0] == '#' || !(words >> value)) continue;
    if (key == "UID_MIN") range.min = static_cast<uid_t>(value);
    else if (key == "UID_MAX") range.max = static_cast<uid_t>(value);
  }
  return range;
}

namespace {

bool Lookup(const char* name, uid_t uid, bool byName, std::string* login, uid_t* id) {
  std::vector<char> scratch(16384);
  passwd entry{};
  passwd* found = nullptr;
  const int rc = byName ? getpwnam_r(name, &entry, scratch.data(), scratch.size(), &found)
                        : getpwuid_r(uid, &entry, scratch.data(), scratch.size(), &found);
  if (rc != 0 || !found || !found->pw_name) return false;
  *login = found->pw_name;
  *id = found->pw_uid;
  return true;
}

}  // namespace

std::string InvokingUserName() {
  std::string login;
  uid_t uid = 0;
  // Only root's environment is believed: anyone else could name anybody.
  const char* sudoUser = std::getenv("SUDO_USER");
  const char* sudoUid = std::getenv("SUDO_UID");
  if (geteuid() == 0 && sudoUser && *sudoUser && Lookup(sudoUser, 0, true, &login, &uid) &&
      (!sudoUid || std::to_string(uid) == sudoUid))
    return login;
  if (Lookup(nullptr, geteuid(), false, &login, &uid)) return login;
  return "";
}

}  // namespace korvo::platform

namespace korvo::platform {

std::optional<Invoker> SudoInvoker() {
  if (geteuid() != 0) return std::nullopt;
  const char* uidText = std::getenv("SUDO_UID");
  const char* gidText = std::getenv("SUDO_GID");
  // pkexec names only the user: the account's own group then.
  const bool pkexec = !uidText;
  if (pkexec) uidText = std::getenv("PKEXEC_UID");
  if (!uidText || (!pkexec && !gidText)) return std::nullopt;
  char* end = nullptr;
  const unsigned long uid = std::strtoul(uidText, &end, 10);
  if (!*uidText || *end) return std::nullopt;
  unsigned long gid = 0;
  if (!pkexec) {
    gid = std::strtoul(gidText, &end, 10);
    if (!*gidText || *end) return std::nullopt;
  }
  std::vector<char> scratch(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(static_cast<uid_t>(uid), &entry, scratch.data(), scratch.size(), &found) != 0 || !found)
    return std::nullopt;
  return Invoker{found->pw_uid, pkexec ? found->pw_gid : static_cast<gid_t>(gid), found->pw_name ? found->pw_name : "",
                 found->pw_dir ? found->pw_dir : "/"};
}

bool ProcessHasSystemRights() { return geteuid() == 0; }

}  // namespace korvo::platform
