// The four most recent files, kept in the viewer's profile under
// "Recent File List" as File1 (the newest) to File4.
#pragma once

#include <string>
#include <vector>

namespace korvo {

class RecentFileList {
 public:
  static constexpr size_t kSize = 4;

  void Load();
  // The file becomes the newest; the list is written at once, so a viewer
  // that is killed loses nothing.
  void Add(const std::string& path);
  // A file that no longer opens leaves the list.
  void Remove(const std::string& path);
  const std::vector<std::string>& Files() const { return files_; }

 private:
  void Save() const;

  std::vector<std::string> files_;
};

}  // namespace korvo
