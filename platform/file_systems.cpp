#include "platform/file_systems.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>

#include "platform/lasterror.h"

namespace korvo::platform {

namespace {

// statfs magic numbers of file systems whose files are on another machine.
constexpr unsigned long kNetworkFileSystems[] = {
    0x6969,      // NFS
    0x517B,      // SMB
    0xFF534D42,  // CIFS
    0xFE534D42,  // SMB2
    0x73757245,  // Coda
    0x5346414F,  // AFS
    0x6B414653,  // kAFS
    0x01021997,  // 9P
    0x564C,      // NCP
    0x00C36400,  // Ceph
    0x47504653,  // GPFS
    0x013111A8,  // IBRIX
};

// The block device's `removable` flag; a partition has it on its disk, one
// folder up in sysfs. Devices without a sysfs block entry (tmpfs, overlay)
// are not removable.
bool RemovableDevice(dev_t device) {
  const std::string entry =
      "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
  std::error_code ec;
  const std::filesystem::path real = std::filesystem::canonical(entry, ec);
  if (ec) return false;
  for (const std::filesystem::path& dir : {real, real.parent_path()}) {
    std::ifstream in(dir / "removable");
    int flag = 0;
    if (in >> flag) return flag != 0;
  }
  return false;
}

}  // namespace

std::string NearestExistingFolder(const std::string& absolutePath) {
  if (absolutePath.empty() || absolutePath[0] != '/') return "";
  std::filesystem::path p = std::filesystem::path(absolutePath).lexically_normal();
  std::error_code ec;
  while (!std::filesystem::exists(p, ec) && p.has_relative_path()) p = p.parent_path();
  return p.string();
}

std::optional<FileSystemKind> LookupFileSystem(const std::string& folder) {
  struct statfs fs{};
  struct stat st{};
  if (statfs(folder.c_str(), &fs) != 0 || stat(folder.c_str(), &st) != 0) {
    SetLastErrorFromErrno();
    return std::nullopt;
  }
  FileSystemKind kind;
  kind.local = true;
  for (unsigned long magic : kNetworkFileSystems)
    if (static_cast<unsigned long>(fs.f_type) == magic) kind.local = false;
  kind.removable = RemovableDevice(st.st_dev);
  return kind;
}

std::optional<uint64_t> FreeSpace(const std::string& folder) {
  struct statvfs vfs{};
  if (statvfs(folder.c_str(), &vfs) != 0) {
    SetLastErrorFromErrno();
    return std::nullopt;
  }
  return static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
}

bool NetworkInterfaceUp() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  bool up = false;
  for (const ifaddrs* a = list; a; a = a->ifa_next)
    if ((a->ifa_flags & IFF_UP) && !(a->ifa_flags & IFF_LOOPBACK)) up = true;
  freeifaddrs(list);
  return up;
}

}  // namespace korvo::platform
