#include "viewer/recent_files.h"

#include <algorithm>

#include "common/settings.h"

namespace korvo {

namespace {

constexpr char kKey[] = "Korvo Viewer\\Recent File List";

std::string EntryName(size_t i) { return "File" + std::to_string(i + 1); }

}  // namespace

void RecentFileList::Load() {
  files_.clear();
  for (size_t i = 0; i < kSize; ++i) {
    char buffer[4096];
    if (KvReadRegUserStr(kKey, EntryName(i).c_str(), buffer, sizeof buffer) && buffer[0] != '\0')
      files_.emplace_back(buffer);
  }
}

void RecentFileList::Add(const std::string& path) {
  std::erase(files_, path);
  files_.insert(files_.begin(), path);
  if (files_.size() > kSize) files_.resize(kSize);
  Save();
}

void RecentFileList::Remove(const std::string& path) {
  if (std::erase(files_, path) != 0) Save();
}

// The hive cannot delete values: places past the end are written empty.
void RecentFileList::Save() const {
  for (size_t i = 0; i < kSize; ++i)
    KvWriteRegUserStr(kKey, EntryName(i).c_str(), i < files_.size() ? files_[i].c_str() : "");
}

}  // namespace korvo
