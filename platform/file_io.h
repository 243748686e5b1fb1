// File descriptors as the handle-based callers expect them: every call reports
// failure through the thread's last error, and sockets and files share one
// read/write path so a stream need not know what it holds.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>

namespace korvo::platform {

using Handle = int;
inline constexpr Handle kInvalidHandle = -1;

// A read at end of file: the call "succeeded" with nothing, which callers
// treat as a failure with this error.
inline constexpr uint32_t kErrorHandleEof = ENODATA;
// A server name that names another machine: there is no remote transport.
inline constexpr uint32_t kErrorHostUnreachable = EHOSTUNREACH;
// A wait that was cancelled from another thread.
inline constexpr uint32_t kErrorOperationAborted = ECANCELED;

// How an open treats an existing or missing file (the Windows numbering).
inline constexpr uint32_t kCreateNew = 1;
inline constexpr uint32_t kCreateAlways = 2;
inline constexpr uint32_t kOpenExisting = 3;
inline constexpr uint32_t kOpenAlways = 4;
inline constexpr uint32_t kTruncateExisting = 5;

// Seek origins.
inline constexpr uint32_t kSeekBegin = 0;
inline constexpr uint32_t kSeekCurrent = 1;
inline constexpr uint32_t kSeekEnd = 2;

// Opens a file; kInvalidHandle with the last error set on failure.
Handle OpenFileHandle(const char* path, bool read, bool write, uint32_t creation);
bool CloseHandle(Handle h);
// Writes the file's data and metadata through to the disk (fsync).
bool FlushFileBuffers(Handle h);
// True when h is an open descriptor of this process.
bool IsValidHandle(Handle h);
bool IsSocketHandle(Handle h);

// Reads what one call delivers, at most count bytes. On a message socket one
// call reads one message; *truncated tells that the message was longer and
// its rest is gone. End of file and an empty message fail with
// kErrorHandleEof, a peer that went away with kErrorBrokenPipe.
bool ReadHandle(Handle h, bool socket, void* buffer, uint32_t count, uint32_t* done, bool* truncated);
// Socket reads then wait at most ms for a message and fail with
// kErrorTimeout (0 waits as little as the system allows).
bool SetReceiveTimeout(Handle h, uint32_t ms);
// Whether the peer of a connected socket has closed its end (hung up); does
// not wait.
bool PeerHasHungUp(Handle h);
// Socket writes then wait at most ms for room and fail (0 waits as little as
// the system allows); kNoSendTimeout waits as long as it takes.
inline constexpr uint32_t kNoSendTimeout = 0xFFFFFFFFu;
bool SetSendTimeout(Handle h, uint32_t ms);
// Writes all count bytes (one message on a message socket). A peer that went
// away fails with kErrorBrokenPipe and never raises SIGPIPE.
bool WriteHandle(Handle h, bool socket, const void* buffer, uint32_t count, uint32_t* done);

// A message socket's traffic in batches: one system call for up to
// kBatchMessages messages, the bytes on the wire those of one write per
// message. count bytes are cut into messages of block bytes, the last one
// shorter when count is no multiple of block.
inline constexpr uint32_t kBatchMessages = 16;
// Sends the leading messages, as many as there is room for, waiting (as
// WriteHandle does) only when there is none; *done is the bytes of those
// that went, at least one message on success. Fails as WriteHandle.
bool SendMessages(Handle h, const void* buffer, uint32_t count, uint32_t block, uint32_t* done);
// Waits for the first message as ReadHandle does, then takes those already
// waiting, never more than count needs; *done is the bytes of the leading
// messages that came whole and of their expected size. A message of another
// size fails after them: a shorter one with kErrorHandleEof, a longer one
// (its rest lost) with kErrorMoreData.
bool ReceiveMessages(Handle h, void* buffer, uint32_t count, uint32_t block, uint32_t* done);

// Ends both directions of a connected socket without closing it: a read
// blocked on another thread returns as if the peer had gone.
bool ShutdownHandle(Handle h);

// Moves the file position; the new position, or -1 with the last error set.
int64_t SeekHandle(Handle h, int64_t distance, uint32_t origin);
// Cuts the file at its current position.
bool TruncateHandle(Handle h);
bool HandleSize(Handle h, uint64_t* size);
bool DeleteFileByName(const char* path);

// A stdio stream over a copy of the handle (the handle itself stays open
// when the stream is closed); null with the last error set on failure. The
// mode must agree with the handle's access; "w" does not truncate here.
std::FILE* StdioOfHandle(Handle h, const char* mode);

// Creates a folder with exactly this mode, whatever the umask. 1 when it made
// it, 0 when something of that name was there already, -1 with the last
// error set otherwise.
int MakeFolder(const char* path, uint32_t mode);

// The user's own folder for the suite's data: $XDG_DATA_HOME/korvo/, or
// ~/.local/share/korvo/ where that is not set; "" without either.
std::string PrivateDataFolder();

// Renames the file only where the new name is free, as MoveFile did: EEXIST
// when something of that name is there (it is left as it was).
bool MoveFileNoReplace(const char* from, const char* to);

// How a folder stands as the effective user's own, private one: a real
// directory (a symbolic link to one is not), owned by the user, writable by
// nobody else (group and others). A closing "/" is ignored.
enum class FolderTrust { kOwn, kMissing, kNotAFolder, kSymlink, kForeignOwner, kOpenToOthers };
FolderTrust CheckOwnFolder(const char* path);

// A folder's path with its closing "/"; an empty path stays empty (it names
// no folder).
inline std::string WithSlash(std::string path) {
  if (!path.empty() && path.back() != '/') path += '/';
  return path;
}

// Why a login other than root or the effective user could change the file
// or folder at the path, or a folder above it (the path as given and as it
// resolves): owned by another login, or writable by a group other than
// root's or by others, where a folder's sticky bit does not keep others
// from replacing what it holds. Empty when nobody else can; a path that
// cannot be examined gives its error.
std::string WhoElseCouldChange(const std::string& path);

// Holds a folder for its user: an exclusive lock on it that lasts until the
// handle is closed or the process ends. kInvalidHandle with EWOULDBLOCK when
// another holder has it.
Handle LockFolder(const char* path);

}  // namespace korvo::platform
