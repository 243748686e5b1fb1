// The user's data folder with its fax boxes and local address book, and the
// user's default fax server, worked out from the registry once per process.
// A fax kept in a box is a pair of files with one base name: the image
// (.fax) and its fax header (.kvf).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace korvo {

class UserEnvironment {
 public:
  // Reads the registry and creates the folders that are missing.
  UserEnvironment();

  // Data path: user value "DataPath", else machine "DefaultUsersDataPath" +
  // "/" + login name + "/". Default server: user "DefaultServer", else the
  // machine's. Valid when both were found.
  void Load();

  // Takes the path as the data folder (a missing closing "/" is added),
  // creates it (0700), then InBox, OutBox, DispBox, SentBox and Returned
  // below it, and names the local address book. A box that cannot be
  // created stays missing; later file operations in it fail with their own
  // statuses. The folder itself is used only when it is a real directory of
  // the user's that no other user may write; otherwise every path stays
  // empty, GetDataPathProblem() says why, and the result is false.
  bool SetDataPath(const std::string& path);

  // Made with these modes when missing: the user's data folder, and the
  // users' parent folder (DefaultUsersDataPath), open to all and sticky.
  static constexpr uint32_t kDataFolderMode = 0700;
  static constexpr uint32_t kBoxFolderMode = 0700;
  static constexpr uint32_t kUsersFolderMode = 01777;

  // Why the data folder was refused ("" when it was not).
  const std::string& GetDataPathProblem() const { return problem_; }
  // The user's folder in the users' folder (DefaultUsersDataPath/<login>/,
  // whether DataPath names it or not) that another user made or can write is
  // not used: the user's private folder (platform::PrivateDataFolder) takes
  // its place, and keeps it once made. The run that makes it says so here
  // (and on standard error); "" otherwise.
  const std::string& GetDataPathNotice() const { return notice_; }

  const std::string& GetDataPath() const { return dataPath_; }
  const std::string& GetInBoxPath() const { return inBoxPath_; }
  const std::string& GetOutBoxPath() const { return outBoxPath_; }
  const std::string& GetSentBoxPath() const { return sentBoxPath_; }
  const std::string& GetReturnedPath() const { return returnedPath_; }
  const std::string& GetDispBoxPath() const { return dispBoxPath_; }
  const std::string& GetLocalBookPath() const { return localBookPath_; }
  const std::string& GetDefaultServer() const { return defaultServer_; }
  int IsValid() const { return valid_; }

 private:
  std::string dataPath_;
  std::string inBoxPath_;
  std::string outBoxPath_;
  std::string sentBoxPath_;
  std::string returnedPath_;
  std::string dispBoxPath_;
  std::string localBookPath_;
  std::string defaultServer_;
  std::string problem_;
  std::string notice_;
  int valid_ = 0;
};

// The process's one environment, built on first use. Programs call it before
// their own start-up code so that every part sees the same paths; the values
// are not re-read while the process runs.
UserEnvironment& GetUserEnvironment();

// Creates every missing folder of the path, prefix by prefix (each ending at
// a "/", the whole path last). 1 when all exist at the end, 0 at the first
// creation that fails (and for an empty path).
int MakeDirectoryPath(const std::string& path);

// 0 when the index is at the end of the path; else moves it to the next "/"
// at or after it, or to the last character when none follows, and returns 1.
int NextPathComponent(const std::string& path, size_t& index);

}  // namespace korvo
