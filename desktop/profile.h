// The application profile of a desktop program: its values in the user hive
// under "Software\Velmora Technologies\Korvo\<program>", each section a subkey
// of that ("Korvo Viewer\Settings"). Reads and writes go through the registry
// layer, so they are locked and atomic; nothing is cached.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korvo::desktop {

class Profile {
 public:
  // `program` is the program's key, e.g. "Korvo Viewer".
  explicit Profile(std::string program);

  // An empty section is the program's key itself. Reads give nothing when the
  // value is missing, of another type, or the hive cannot be read.
  std::optional<std::string> GetString(std::string_view section, std::string_view name) const;
  std::optional<uint32_t> GetDword(std::string_view section, std::string_view name) const;
  std::string GetString(std::string_view section, std::string_view name, std::string_view fallback) const;
  uint32_t GetDword(std::string_view section, std::string_view name, uint32_t fallback) const;

  // Creates the keys as needed; false when the hive cannot be written.
  bool SetString(std::string_view section, std::string_view name, std::string_view value);
  bool SetDword(std::string_view section, std::string_view name, uint32_t value);

  // The full key path below the hive's root.
  std::string Key(std::string_view section) const;

 private:
  std::string program_;
};

}  // namespace korvo::desktop
