// The machine's user accounts and who administers the machine.
#pragma once

#include <sys/types.h>

#include <optional>
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

struct Account {
  std::string name;
  uid_t uid = 0;
  std::string gecos;
};

// Every account of the system's user database, in its order (getpwent).
std::vector<Account> MachineAccounts();

// The user ids of ordinary accounts: UID_MIN and UID_MAX of login.defs,
// shadow's defaults 1000 and 60000 where the file does not set them.
struct UidRange {
  uid_t min = 1000;
  uid_t max = 60000;
};
UidRange OrdinaryUidRange(const std::string& loginDefs = "/etc/login.defs");

// The login of the person running the process: under sudo (root, with
// SUDO_USER naming an account whose id SUDO_UID repeats) the one who called
// sudo, else the effective user's login. Empty when neither has an account.
std::string InvokingUserName();

// The person who called sudo, as the programs setup starts for them should
// run: only for root, from SUDO_UID and SUDO_GID (an id without an account is
// nobody), with the account's name and home folder.
struct Invoker {
  uid_t uid = 0;
  gid_t gid = 0;
  std::string name;
  std::string home;
};
// Also for pkexec (PKEXEC_UID), with the account's own group.
std::optional<Invoker> SudoInvoker();

// The process may change the system's folders, units and printers: its
// effective user is root. Membership of an administrators' group is not
// enough: such a login gains the rights only through sudo or pkexec.
bool ProcessHasSystemRights();

}  // namespace korvo::platform
