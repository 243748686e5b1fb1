// Temporary file names: "<folder><prefix><4 hex digits>.TMP", with at most the
// first three characters of the prefix. The callers hand these names to
// fixed 260-byte buffers, so a longer name is refused.
#pragma once

#include <cstdint>
#include <string>

namespace korvo::platform {

inline constexpr size_t kMaxPath = 260;

// With unique 0 a free number is chosen and the file is created empty (O_EXCL,
// so two processes never get the same name); numbers follow one another within
// the process, skipping names that are taken. With a non-zero unique only its
// low 16 bits are used and the name is built without creating anything.
// Returns the number used, or 0 with the last error set (the folder missing,
// every number taken, the name too long).
uint32_t GetTempFileName(const std::string& folder, const std::string& prefix, uint32_t unique,
                         std::string& name);

// As GetTempFileName with a free number, but the new file (mode 0600) stays
// open for reading and writing: the caller fills it through this handle and
// never needs to open the name again. kInvalidHandle with the last error set
// when none can be made.
int CreateTempFile(const std::string& folder, const std::string& prefix, std::string& name);

// A new folder "<parent>/<prefix>XXXXXX" (mkdtemp: a name nobody had, mode
// 0700), so what is put there cannot have been laid in wait by another user.
// Empty with the last error set when none can be made.
std::string MakePrivateFolder(const std::string& parent, const std::string& prefix);

}  // namespace korvo::platform
