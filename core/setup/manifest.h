// What an installation made in its folder: one path relative to the folder a
// line (a folder's ends with '/'), kept there as korvo.manifest. Each entry is
// written as soon as its file or folder is made, so a cancelled or failed
// installation leaves its record too; removal removes exactly what it names.
#pragma once

#include <string>
#include <vector>

namespace korvo {

class Manifest {
 public:
  static constexpr const char* kName = "korvo.manifest";

  // The installation folder, with or without its closing '/'.
  explicit Manifest(const std::string& root);

  std::string path() const { return root_ + kName; }
  bool exists() const;
  // Adds one entry. False with the thread's last error when it could not be
  // written.
  bool Record(const std::string& relative) const;
  // The entries, each once, in the order they were first recorded.
  std::vector<std::string> Entries() const;
  // Deletes the record itself (a missing one counts as deleted).
  bool Delete() const;

 private:
  std::string root_;
};

}  // namespace korvo
