// Whole-file replacement that survives a crash: the new contents go to a
// temporary file beside the target, are flushed to the disk and renamed over
// the target, so a crash leaves either the old file or the new one, never a
// torn one.
#pragma once

#include <string>
#include <string_view>

namespace korvo::platform {

// True when the bytes are on the disk under path; false with the last error
// set (the target is then unchanged and the temporary file gone).
bool ReplaceFileDurably(const std::string& path, std::string_view bytes);

// Flushes a file written by other means, and the folder that names it, to
// the disk; false with the last error set.
bool SyncFile(const std::string& path);

// Flushes only the file's own data and metadata: the folder that names it
// is flushed by SyncFolder, once for many files; false with the last error set.
bool SyncFileOnly(const std::string& path);
bool SyncFolder(const std::string& folder);

// The folder part of a path ("." when it has none).
std::string FolderOf(const std::string& path);

// Whole contents of a file; false with the last error set when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& bytes);

}  // namespace korvo::platform
