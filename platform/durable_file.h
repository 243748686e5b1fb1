// Whole-file replacement that survives a crash: the new contents go to a
// temporary file beside the target, are flushed to the disk and renamed over
// the target, so a crash leaves either the old file or the new one, never a
// torn one.
#pragma once

#include <string>
#include <string_view>

namespace korvo::platform {

// The steps of the writes below at which the disk can fail: what a test
// makes fail to see that no failure passes as a success.
enum class DiskStep { kCreate, kWrite, kFlush, kRename, kFolderFlush };
// The error a step is to fail with (ENOSPC, EIO...), or 0 to let it run. A
// failed write first writes half of its bytes, as a disk filling midway does.
using DiskFaultHook = int (*)(DiskStep step, const std::string& path);
// Null: the disk alone decides. Set only while no write runs.
void SetDiskFaultHook(DiskFaultHook hook);

// True when the bytes are on the disk under path; false with the last error
// set (the target may then be unchanged or replaced, the temporary file is
// gone). A folder not flushed after the rename is a failure: the new name
// may yet be lost.
bool ReplaceFileDurably(const std::string& path, std::string_view bytes);

// Flushes a file written by other means, and the folder that names it, to
// the disk; false with the last error set.
bool SyncFile(const std::string& path);

// Flushes only the file's own data and metadata: the folder that names it
// is flushed by SyncFolder, once for many files; false with the last error set.
bool SyncFileOnly(const std::string& path);
bool SyncFolder(const std::string& folder);

// Opens path to append to (made 0600 when new); -1 with the last error set.
int OpenForAppend(const std::string& path);
// Appends the bytes to fd (opened on path) and flushes its data; false with
// the last error set, some of the bytes perhaps written.
bool AppendDurably(int fd, const std::string& path, std::string_view bytes);

// The folder part of a path ("." when it has none).
std::string FolderOf(const std::string& path);

// Whole contents of a file; false with the last error set when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& bytes);

}  // namespace korvo::platform
