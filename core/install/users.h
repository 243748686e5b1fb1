// The machine's accounts as registered users, for the import of setup.
#pragma once

#include <string>
#include <vector>

namespace korvo::install {

// The import takes at most this many accounts.
inline constexpr size_t kUserListSize = 64;

// Fills the list (kUserListSize entries) with the record text of each
// ordinary account (user ids UID_MIN..UID_MAX of login.defs), at its place
// among them: user name, full name (the first GECOS field), description (the
// rest of it), rights 0x02. A GECOS text is the user's own (chfn), so control
// bytes are dropped and the texts cut at a character boundary to fit the
// record; an account whose name does not fit the record, or holds control
// bytes, is left out (its entry stays empty) and, when skipped is given, a
// line there says which login and why. 0 when the accounts were listed, 1
// for another machine, whose accounts are not ours to read.
int FindUsers(const char* machine, std::vector<std::string>* list, std::vector<std::string>* skipped = nullptr);

// KvImportUsers, with the lines of the logins it left out (as FindUsers
// gives them) for the setup user.
unsigned long ImportUsers(const char* root, std::vector<std::string>* skipped);

}  // namespace korvo::install
