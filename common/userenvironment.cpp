#include "common/userenvironment.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "common/settings.h"
#include "platform/file_io.h"
#include "platform/username.h"

namespace korvo {

namespace {

using platform::WithSlash;

constexpr uint32_t kPathSize = 260;

// An empty value counts as missing: it names no folder and no server.
bool Read(int (*getter)(char*, uint32_t), std::string& out) {
  char buffer[kPathSize] = {};
  if (!getter(buffer, sizeof buffer) || !buffer[0]) return false;
  out = buffer;
  return true;
}

std::string WithoutSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// The last folder of the path is made with the mode; the ones above it as
// MakeDirectoryPath makes them.
void MakeFolderPath(const std::string& path, uint32_t mode) {
  const std::string folder = WithoutSlash(path);
  const size_t slash = folder.rfind('/');
  if (slash != std::string::npos && slash > 0) MakeDirectoryPath(folder.substr(0, slash + 1));
  platform::MakeFolder(folder.c_str(), mode);
}

const char* TrustProblem(platform::FolderTrust trust) {
  switch (trust) {
    case platform::FolderTrust::kOwn: return "";
    case platform::FolderTrust::kMissing: return "does not exist and cannot be made";
    case platform::FolderTrust::kNotAFolder: return "is not a folder";
    case platform::FolderTrust::kSymlink: return "is a symbolic link";
    case platform::FolderTrust::kForeignOwner: return "belongs to another user";
    case platform::FolderTrust::kOpenToOthers: return "may be written by other users";
  }
  return "cannot be used";
}

}  // namespace

UserEnvironment::UserEnvironment() { Load(); }

void UserEnvironment::Load() {
  notice_.clear();
  std::string path;
  bool havePath = Read(KvGetDataPath, path);
  // The user's folder in the users' folder, where setup and the first run
  // put it; read only when it matters, as every read may be traced.
  std::string parent, usual;
  bool usualRead = false;
  auto usualPath = [&]() -> const std::string& {
    if (!usualRead) {
      usualRead = true;
      char user[kPathSize] = {};
      if (Read(KvGetKorvoDefaultUsersDataPath, parent) && platform::GetUserName(user, sizeof user) && user[0])
        usual = WithSlash(parent) + user + "/";
    }
    return usual;
  };
  if (!havePath && !usualPath().empty()) {
    // Every user makes a folder of their own here, so it is open to all;
    // sticky as /tmp is, so none can move or remove another's.
    MakeFolderPath(parent, kUsersFolderMode);
    path = usual;
    havePath = true;
  }
  if (havePath) {
    // Another login can make the user's folder in the shared users' folder
    // before the user's first run, and the user cannot remove it: the user's
    // private folder takes its place, from then on.
    const std::string own = platform::PrivateDataFolder();
    auto inUsersFolder = [&] { return !own.empty() && !usualPath().empty() && WithSlash(path) == usual; };
    if (!own.empty() && platform::CheckOwnFolder(own.c_str()) == platform::FolderTrust::kOwn && inUsersFolder()) {
      havePath = SetDataPath(own);
    } else {
      havePath = SetDataPath(path);
      if (!havePath && inUsersFolder()) {
        const char* why = TrustProblem(platform::CheckOwnFolder(WithSlash(path).c_str()));
        havePath = SetDataPath(own);
        // Said once: from the next run on the private folder is simply the
        // user's.
        if (havePath) {
          notice_ = "The Korvo data folder " + WithSlash(path) + " " + why + "; your faxes are kept in " + own +
                    " instead.";
          std::fprintf(stderr, "%s\n", notice_.c_str());
        }
      }
    }
  }
  bool haveServer = Read(KvGetDefaultServer, defaultServer_) || Read(KvGetKorvoDefaultServer, defaultServer_);
  valid_ = havePath && haveServer ? 1 : 0;
}

bool UserEnvironment::SetDataPath(const std::string& path) {
  dataPath_ = inBoxPath_ = outBoxPath_ = dispBoxPath_ = sentBoxPath_ = returnedPath_ = localBookPath_ = "";
  problem_.clear();
  const std::string folder = WithSlash(path);
  MakeFolderPath(folder, kDataFolderMode);
  // Temporary files and faxes are written here by name: a folder another
  // user could plant links in, or swap for a link, would have them written
  // wherever that user chose.
  const platform::FolderTrust trust = platform::CheckOwnFolder(folder.c_str());
  if (trust != platform::FolderTrust::kOwn) {
    problem_ = "the data folder " + folder + " " + TrustProblem(trust) + "; it is not used";
    return false;
  }
  dataPath_ = folder;
  // The boxes hold the user's faxes: private as the data folder, whatever
  // the umask.
  for (auto [box, name] : {std::pair{&inBoxPath_, "InBox/"}, {&outBoxPath_, "OutBox/"}, {&dispBoxPath_, "DispBox/"},
                           {&sentBoxPath_, "SentBox/"}, {&returnedPath_, "Returned/"}}) {
    *box = dataPath_ + name;
    platform::MakeFolder(box->c_str(), kBoxFolderMode);
  }
  localBookPath_ = dataPath_ + "LocBook.kvb";
  return true;
}

UserEnvironment& GetUserEnvironment() {
  static UserEnvironment environment;
  return environment;
}

int MakeDirectoryPath(const std::string& path) {
  if (path.empty()) return 0;
  size_t index = 0;
  while (NextPathComponent(path, index)) {
    std::filesystem::path prefix(path.substr(0, index + 1));
    std::error_code ec;
    if (!std::filesystem::exists(prefix, ec)) {
      // False without an error means another process made it meanwhile.
      if (!std::filesystem::create_directory(prefix, ec) && ec) return 0;
    }
    ++index;
  }
  return 1;
}

int NextPathComponent(const std::string& path, size_t& index) {
  if (index >= path.size()) return 0;
  size_t slash = path.find('/', index);
  index = slash == std::string::npos ? path.size() - 1 : slash;
  return 1;
}

}  // namespace korvo
