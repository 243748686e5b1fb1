// The registry of the Windows design on Linux: two hive files (machine and
// user) in the text form of a REGEDIT4 export. Key paths are relative to the
// hive's root, their components separated by '\'; key and value names are
// compared without regard to ASCII letter case, as the Windows registry does.
//
// Every write is a read-modify-write of the whole hive under an exclusive
// flock on "<hive>.lock" (a lock file beside the hive, so the rename does not
// defeat the lock), written to a temporary file, fsynced and renamed over the
// hive: concurrent writers never lose an update and a crash leaves the old or
// the new hive. Readers take a shared lock. A missing hive is an empty one; a
// hive that does not parse is reported by a trace and never overwritten.
#pragma once

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korvo::platform {

enum class RegistryHive { LocalMachine, CurrentUser };

// Value types, numbered as in the Windows registry.
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;

// Last errors of the registry layer beyond errno values of file access.
inline constexpr uint32_t kErrorBadHive = EBADMSG;     // the hive file does not parse
inline constexpr uint32_t kErrorBadRegName = EINVAL;   // a key or value name the file cannot hold

struct RegistryValue {
  uint32_t type = kRegBinary;
  std::vector<uint8_t> data;  // a REG_SZ holds its text with the closing NUL
  bool operator==(const RegistryValue&) const = default;
};

// "HKEY_LOCAL_MACHINE" or "HKEY_CURRENT_USER", the root of the hive's sections.
std::string_view RegistryRootName(RegistryHive hive);

// $KORVO_MACHINE_HIVE (default /etc/korvo/machine.reg) or $KORVO_USER_HIVE
// (default $XDG_CONFIG_HOME/korvo/user.reg, ~/.config/korvo/user.reg), looked up
// on every call.
std::filesystem::path RegistryHivePath(RegistryHive hive);

// The keys and values of one hive in memory.
class RegistryHiveData {
 public:
  // The root ("") always exists; a key exists once it or a key below it was created.
  bool HasKey(std::string_view path) const;
  // Creates the key and the keys above it. False (last error kErrorBadRegName)
  // for an empty path component or a line end in the path.
  bool CreateKey(std::string_view path);
  // Deletes the key with its values and every key below it. False (last
  // error kErrorFileNotFound) when the key is missing, or kErrorBadRegName
  // for the root.
  bool DeleteKey(std::string_view path);
  // Null when the key or the value is missing. The empty name is the key's default value.
  const RegistryValue* FindValue(std::string_view key, std::string_view name) const;
  // Sets a value of an existing key. False (last error kErrorBadRegName) when the
  // key is missing or the name holds a line end.
  bool SetValue(std::string_view key, std::string_view name, RegistryValue value);

  // Replaces the contents by the parsed hive text whose sections lie below `root`.
  // False with the 1-based line of the fault in *errorLine when it does not parse;
  // the contents are then unspecified.
  bool Parse(std::string_view text, std::string_view root, size_t* errorLine = nullptr);
  // REGEDIT4 text. Strings holding a line end (or not NUL-terminated) are
  // written as hex(1): so that every value reads back exactly.
  std::string Serialize(std::string_view root) const;

  bool operator==(const RegistryHiveData&) const = default;

 private:
  struct PathLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
  };
  using Values = std::vector<std::pair<std::string, RegistryValue>>;
  std::map<std::string, Values, PathLess> keys_;
};

// Reads the hive under a shared lock. A missing hive gives empty contents.
// False with the last error set when the file cannot be read or does not parse
// (the latter also traced).
bool LoadRegistryHive(RegistryHive hive, RegistryHiveData& out);

enum class RegistryUpdate {
  kDone,
  kOpenFailed,   // the hive could not be locked, read or parsed (last error set)
  kRefused,      // `change` returned false: nothing written
  kWriteFailed,  // the new hive could not be written (last error set); the old one stays
};

// Read-modify-write under the exclusive lock: `change` edits the current
// contents, which are then written back atomically. Creates the hive (and its
// folder) when missing, and removes temporary files left by writers that died.
RegistryUpdate UpdateRegistryHive(RegistryHive hive, const std::function<bool(RegistryHiveData&)>& change);

}  // namespace korvo::platform
