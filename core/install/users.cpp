#include "core/install/users.h"

#include <strings.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "common/settings.h"
#include "common/trace.h"
#include "common/user_record.h"
#include "common/utf8_cut.h"
#include "core/install/install.h"
#include "platform/accounts.h"
#include "platform/file_io.h"
#include "platform/lasterror.h"
#include "platform/local_socket.h"
#include "platform/username.h"

namespace korvo::install {

namespace {

constexpr uint32_t kImportedRights = 0x02;

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

// The text without control bytes, cut to at most limit bytes where no UTF-8
// sequence is split.
std::string RecordText(const std::string& text, size_t limit) {
  std::string out;
  for (unsigned char c : text)
    if (!IsControl(c)) out += static_cast<char>(c);
  out.resize(Utf8CutLength(out, limit));
  return out;
}

// Why the login is no user's name; "" when it is one.
std::string NameProblem(const std::string& name) {
  if (name.empty()) return "it has no name";
  if (name.size() > sizeof(UserRecord::userName) - 1)
    return "its name is longer than " + std::to_string(sizeof(UserRecord::userName) - 1) +
           " characters, the most a user name holds";
  if (!UserRecord::FitsName(name)) return "its name holds control characters";
  return "";
}

// The name as a line can show it: control bytes as '?'.
std::string Shown(const std::string& name) {
  std::string out;
  for (unsigned char c : name) out += IsControl(c) ? '?' : static_cast<char>(c);
  return out;
}

}  // namespace

int FindUsers(const char* machine, std::vector<std::string>* list, std::vector<std::string>* skipped) {
  const bool local = !machine || !*machine || platform::IsThisMachine(machine);
  int result = 1, count = 0;
  if (local && list) {
    list->resize(kUserListSize);
    const platform::UidRange range = platform::OrdinaryUidRange();
    for (const platform::Account& account : platform::MachineAccounts()) {
      if (account.uid < range.min || account.uid > range.max) continue;
      if (static_cast<size_t>(count) >= kUserListSize) break;
      const size_t at = static_cast<size_t>(count++);
      if (const std::string why = NameProblem(account.name); !why.empty()) {
        // Cut to fit, the name could be another user's: it is left out, and
        // setup says so.
        const std::string line =
            "'" + Shown(account.name) + "' (uid " + std::to_string(account.uid) + ") not imported: " + why;
        if (skipped) skipped->push_back(line);
        if (GetDebugFlags() & 2) DebugPrint("FindUsers: %s\n", line.c_str());
        continue;
      }
      const size_t comma = account.gecos.find(',');
      const std::string fullName = account.gecos.substr(0, comma);
      const std::string comment = comma == std::string::npos ? "" : account.gecos.substr(comma + 1);
      UserRecord user;
      user.Set(account.name, RecordText(fullName, sizeof user.fullName - 1),
               RecordText(comment, sizeof user.description - 1), kImportedRights);
      (*list)[at] = user.Encode();
    }
    result = 0;
  }
  if (GetDebugFlags() & 2)
    DebugPrint("FindUsers on '%s' host found %d users, rc=%d\n", local ? "local" : machine, count, result);
  return result;
}

}  // namespace korvo::install

namespace {

using korvo::platform::WithSlash;
constexpr uint32_t kAllRights = 0x3F;
constexpr size_t kRecordTextLimit = 511;

bool Read(int (*getter)(char*, uint32_t), std::string* out) {
  char buffer[260] = {};
  if (!getter(buffer, sizeof buffer) || !buffer[0]) return false;
  *out = buffer;
  return true;
}

}  // namespace

extern "C" {

int KvMakeDirectories(const char* path) {
  namespace fs = std::filesystem;
  const std::string text = WithSlash(path ? path : "");
  if (text.empty()) {
    korvo::platform::SetLastError(ENOENT);
    return 0;
  }
  for (size_t slash = text.find('/', 1); slash != std::string::npos; slash = text.find('/', slash + 1)) {
    const fs::path prefix = text.substr(0, slash);
    std::error_code ec;
    if (fs::exists(prefix, ec)) continue;
    // Another process may have made it meanwhile.
    if (!fs::create_directory(prefix, ec) && ec) {
      korvo::platform::SetLastError(static_cast<uint32_t>(ec.value()));
      return 0;
    }
  }
  std::error_code ec;
  if (!fs::is_directory(text, ec)) {
    korvo::platform::SetLastError(ENOTDIR);
    return 0;
  }
  return 1;
}

unsigned long KvImportUsers(const char* root) { return korvo::install::ImportUsers(root, nullptr); }

}

namespace korvo::install {

unsigned long ImportUsers(const char* root, std::vector<std::string>* skipped) {
  const std::string base = WithSlash(root ? root : "") + "Server/Config/";
  const std::string book = base + "RegUsers.dbs", old = base + "RegUsers.bok";
  std::error_code ec;
  if (std::filesystem::exists(old, ec) && !platform::MoveFileNoReplace(old.c_str(), book.c_str()))
    DebugPrint("KVSetup: MoveFile RegUsers error=%d\n", static_cast<int>(platform::GetLastError()));
  // The server's folders are its own alone.
  if (!KvMakeDirectories(root)) return 0;
  platform::MakeFolder((WithSlash(root ? root : "") + "Server").c_str(), 0700);
  platform::MakeFolder(base.c_str(), 0700);
  bool open = false;
  UserDatabase users(book, &open);
  if (!open) return 0;
  const std::string setupUser = platform::InvokingUserName();
  std::vector<std::string> list(korvo::install::kUserListSize);
  if (FindUsers(nullptr, &list, skipped) != 0) return 0;
  for (const std::string& text : list) {
    if (text.empty()) continue;
    UserRecord user, stored;
    user.Decode(std::string_view(text).substr(0, kRecordTextLimit));
    const bool known = users.Get(&user, &stored);
    if (known) user = stored;
    if (!setupUser.empty() && strcasecmp(user.userName.Str().c_str(), setupUser.c_str()) == 0)
      user.rights |= kAllRights;
    if (known) users.EditUser(user.Encode());
    else users.AddUser(user.Encode());
  }
  return 0;
}

}  // namespace korvo::install

extern "C" {

int KvMakeUserDefaultEnvironment(void) {
  namespace platform = korvo::platform;
  std::string server;
  if (!Read(KvGetDefaultServer, &server)) {
    if (!Read(KvGetKorvoDefaultServer, &server) || !KvSetDefaultServer(server.c_str())) return 0;
  }
  std::string path;
  if (!Read(KvGetDataPath, &path)) {
    std::string parent;
    char login[65] = {};
    if (!Read(KvGetKorvoDefaultUsersDataPath, &parent) || !platform::GetUserName(login, sizeof login) || !login[0])
      return 0;
    // Every user makes a folder of their own there: open to all, sticky.
    parent = WithSlash(parent);
    std::filesystem::path above = std::filesystem::path(parent).parent_path().parent_path();
    if (!above.empty() && !KvMakeDirectories(above.c_str())) return 0;
    platform::MakeFolder(parent.c_str(), 01777);
    path = parent + login + "/";
    platform::MakeFolder(path.c_str(), 0700);
  }
  path = WithSlash(path);
  const int made = KvMakeDirectories(path.c_str());
  const int stored = KvSetDataPath(path.c_str());
  return made && stored;
}

int KvCheckCurrentUserRegistryKeys(void) {
  std::string value;
  return Read(KvGetDataPath, &value) && Read(KvGetDefaultServer, &value) ? 1 : 0;
}

}
