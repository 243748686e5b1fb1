#include "common/userenvironment.h"

#include <filesystem>
#include <system_error>

#include "common/settings.h"
#include "platform/username.h"

namespace korvo {

namespace {

constexpr uint32_t kPathSize = 260;

// An empty value counts as missing: it names no folder and no server.
bool Read(int (*getter)(char*, uint32_t), std::string& out) {
  char buffer[kPathSize] = {};
  if (!getter(buffer, sizeof buffer) || !buffer[0]) return false;
  out = buffer;
  return true;
}

std::string WithSlash(std::string path) {
  if (!path.empty() && path.back() != '/') path += '/';
  return path;
}

}  // namespace

UserEnvironment::UserEnvironment() { Load(); }

void UserEnvironment::Load() {
  std::string path;
  bool havePath = Read(KvGetDataPath, path);
  if (!havePath) {
    std::string parent;
    char user[kPathSize] = {};
    if (Read(KvGetKorvoDefaultUsersDataPath, parent) && platform::GetUserName(user, sizeof user) && user[0]) {
      path = WithSlash(parent) + user + "/";
      havePath = true;
    }
  }
  if (havePath) SetDataPath(path);
  bool haveServer = Read(KvGetDefaultServer, defaultServer_) || Read(KvGetKorvoDefaultServer, defaultServer_);
  valid_ = havePath && haveServer ? 1 : 0;
}

void UserEnvironment::SetDataPath(const std::string& path) {
  dataPath_ = WithSlash(path);
  MakeDirectoryPath(dataPath_);
  inBoxPath_ = dataPath_ + "InBox/";
  MakeDirectoryPath(inBoxPath_);
  outBoxPath_ = dataPath_ + "OutBox/";
  MakeDirectoryPath(outBoxPath_);
  dispBoxPath_ = dataPath_ + "DispBox/";
  MakeDirectoryPath(dispBoxPath_);
  sentBoxPath_ = dataPath_ + "SentBox/";
  MakeDirectoryPath(sentBoxPath_);
  returnedPath_ = dataPath_ + "Returned/";
  MakeDirectoryPath(returnedPath_);
  localBookPath_ = dataPath_ + "LocBook.kvb";
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
