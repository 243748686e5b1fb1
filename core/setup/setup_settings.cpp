#include "core/setup/setup_settings.h"

#include "common/settings.h"

namespace korvo {
namespace {

// Registry strings are read through buffers of this size.
constexpr uint32_t kPathSize = 260;

bool ReadString(const char* subkey, const char* name, std::string& out) {
  char buffer[kPathSize] = {};
  if (!KvReadRegStr(subkey, name, buffer, sizeof buffer)) return false;
  out = buffer;
  return true;
}

bool ReadString(int (*getter)(char*, uint32_t), std::string& out) {
  char buffer[kPathSize] = {};
  if (!getter(buffer, sizeof buffer)) return false;
  out = buffer;
  return true;
}

void ReadNumber(const char* name, int32_t& out) {
  uint32_t value = 0;
  if (KvReadRegDword("Server", name, &value)) out = static_cast<int32_t>(value);
}

}  // namespace

SetupSettings SetupSettings::Load() {
  SetupSettings s;
  uint32_t value = 0;
  if (KvGetKorvoServer(&value)) s.server = static_cast<int32_t>(value);
  if (KvGetKorvoWorkstation(&value)) s.workstation = static_cast<int32_t>(value);

  value = 0;
  GetRetryTimeout(&value);
  if (value < 1 || value > 60) SetRetryTimeout(value = 3);
  s.retryTimeout = static_cast<int32_t>(value);
  value = 0;
  GetRetryAttempts(&value);
  if (value < 1 || value > 10) SetRetryAttempts(value = 5);
  s.retryAttempts = static_cast<int32_t>(value);

  ReadNumber("MaxImgId", s.maxImgId);
  ReadNumber("MaxReqId", s.maxReqId);

  std::string station;
  if (!GetStationIdentifierString(station) || station.empty() || station.size() > 20) {
    station.clear();
    if (ReadString(KvGetDefaultServer, station) || ReadString(KvGetKorvoDefaultServer, station))
      SetStationIdentifierString(station);
    else
      station.clear();
  }
  s.stationIdentifier = station;

  std::string root;
  if (ReadString(KvGetKorvoInstallPath, root)) s.rootDirectory = root;
  if (!ReadString(KvGetKorvoDefaultServer, s.defaultServer) && !ReadString(KvGetDefaultServer, s.defaultServer))
    s.defaultServer.clear();
  if (!ReadString(KvGetKorvoDefaultUsersDataPath, s.usersDataPath)) s.usersDataPath.clear();

  // The registered organization of the Windows design has no counterpart
  // here: only the server's own value.
  ReadString("Server", "Organization", s.organization);
  ReadString("Server", "MainFaxNumber", s.mainFaxNumber);
  ReadString("Server", "MainPhoneNumber", s.mainPhoneNumber);
  ReadString("Server", "ContactPerson", s.contactPerson);
  ReadString("Server", "AutoDispatchTo", s.autoDispatchTo);
  ReadString("Server", "ServiceAccount", s.serviceAccount);
  ReadString("Server", "MapiProfile", s.mapiProfile);
  return s;
}

}  // namespace korvo
