#include "desktop/profile.h"

#include <cstring>
#include <utility>

#include "platform/registry.h"

namespace korvo::desktop {
namespace {

using platform::RegistryHive;
using platform::RegistryHiveData;
using platform::RegistryValue;

constexpr char kBaseKey[] = "Software\\Velmora Technologies\\Korvo";

std::optional<RegistryValue> Load(const std::string& key, std::string_view name) {
  RegistryHiveData hive;
  if (!platform::LoadRegistryHive(RegistryHive::CurrentUser, hive)) return std::nullopt;
  const RegistryValue* value = hive.FindValue(key, name);
  if (!value) return std::nullopt;
  return *value;
}

bool Store(const std::string& key, std::string_view name, RegistryValue value) {
  return platform::UpdateRegistryHive(RegistryHive::CurrentUser, [&](RegistryHiveData& hive) {
           return hive.CreateKey(key) && hive.SetValue(key, name, std::move(value));
         }) == platform::RegistryUpdate::kDone;
}

}  // namespace

Profile::Profile(std::string program) : program_(std::move(program)) {}

std::string Profile::Key(std::string_view section) const {
  std::string key = std::string(kBaseKey) + "\\" + program_;
  if (!section.empty()) key.append("\\").append(section);
  return key;
}

std::optional<std::string> Profile::GetString(std::string_view section, std::string_view name) const {
  auto value = Load(Key(section), name);
  if (!value || value->type != platform::kRegSz) return std::nullopt;
  // Stored with its closing NUL; the text ends at the first one.
  const auto& data = value->data;
  const char* text = reinterpret_cast<const char*>(data.data());
  return std::string(text, strnlen(text, data.size()));
}

std::optional<uint32_t> Profile::GetDword(std::string_view section, std::string_view name) const {
  auto value = Load(Key(section), name);
  if (!value || value->type != platform::kRegDword || value->data.size() != 4) return std::nullopt;
  const auto& d = value->data;
  return uint32_t(d[0]) | uint32_t(d[1]) << 8 | uint32_t(d[2]) << 16 | uint32_t(d[3]) << 24;
}

std::string Profile::GetString(std::string_view section, std::string_view name, std::string_view fallback) const {
  auto value = GetString(section, name);
  return value ? *value : std::string(fallback);
}

uint32_t Profile::GetDword(std::string_view section, std::string_view name, uint32_t fallback) const {
  return GetDword(section, name).value_or(fallback);
}

bool Profile::SetString(std::string_view section, std::string_view name, std::string_view value) {
  RegistryValue v{platform::kRegSz, std::vector<uint8_t>(value.begin(), value.end())};
  v.data.push_back(0);
  return Store(Key(section), name, std::move(v));
}

bool Profile::SetDword(std::string_view section, std::string_view name, uint32_t value) {
  RegistryValue v{platform::kRegDword, {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)}};
  return Store(Key(section), name, std::move(v));
}

}  // namespace korvo::desktop
