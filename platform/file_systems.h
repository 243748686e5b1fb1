// Where a folder's files would live: the file system under a path, whether it
// is a local, fixed one, and how much room it has, as setup asks of the drive
// it installs onto.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace korvo::platform {

struct FileSystemKind {
  bool local = false;      // not a network file system (NFS, SMB, 9P, AFS, ...)
  bool removable = false;  // on a block device whose `removable` flag is set
};

// The path itself when it exists, else its nearest existing parent; empty for
// a relative path.
std::string NearestExistingFolder(const std::string& absolutePath);

// The file system that holds the folder (statfs and the device's sysfs
// entry); nothing with the last error set when it cannot be asked.
std::optional<FileSystemKind> LookupFileSystem(const std::string& folder);

// Bytes free for an ordinary user on the folder's file system (statvfs);
// nothing with the last error set when it cannot be asked.
std::optional<uint64_t> FreeSpace(const std::string& folder);

// Whether a network interface other than loopback is up (getifaddrs).
bool NetworkInterfaceUp();

}  // namespace korvo::platform
