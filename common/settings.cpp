#include "common/settings.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "common/trace.h"
#include "platform/lasterror.h"
#include "platform/registry.h"
#include "platform/trace.h"

using korvo::platform::RegistryHive;
using korvo::platform::RegistryHiveData;
using korvo::platform::RegistryUpdate;
using korvo::platform::RegistryValue;

namespace {

constexpr char kBaseKey[] = "Software\\Velmora Technologies\\Korvo";
constexpr RegistryHive kMachine = RegistryHive::LocalMachine;
constexpr RegistryHive kUser = RegistryHive::CurrentUser;

const char* Show(const char* s) { return s ? s : ""; }
bool HasSubkey(const char* subkey) { return subkey && *subkey; }
std::string KeyPath(const char* subkey) {
  return HasSubkey(subkey) ? std::string(kBaseKey) + "\\" + subkey : std::string(kBaseKey);
}

// How a read reports its failures: through the trace switch, only the root and
// base-key failures straight to the sink, or not at all.
enum class Tracing { kTraced, kQuiet, kSilent };

// The reader's walk: hive root, base key, subkey, value. Null on failure, which
// is traced as each step says.
const RegistryValue* Query(RegistryHive hive, const char* subkey, const char* name, RegistryHiveData& data,
                           Tracing tracing) {
  if (!korvo::platform::LoadRegistryHive(hive, data)) {
    if (tracing == Tracing::kTraced) DebugPrintLastError("Read RegOpenKeyEx (ROOT)");
    else if (tracing == Tracing::kQuiet) korvo::platform::WriteTrace("Read RegOpenKeyEx (ROOT)\n");
    return nullptr;
  }
  if (!data.HasKey(kBaseKey)) {
    korvo::platform::SetLastError(korvo::platform::kErrorFileNotFound);
    if (tracing == Tracing::kTraced) {
      DebugPrintLastError("Read RegOpenKeyEx");
      DebugPrint("Read RegOpenKeyEx '%s'\n", kBaseKey);
    } else if (tracing == Tracing::kQuiet) {
      korvo::platform::WriteTrace("Read RegOpenKeyEx\n");
    }
    return nullptr;
  }
  std::string key = KeyPath(subkey);
  if (HasSubkey(subkey) && !data.HasKey(key)) {
    korvo::platform::SetLastError(korvo::platform::kErrorFileNotFound);
    if (tracing == Tracing::kTraced) DebugPrint("Read RegOpenKeyEx '%s'\n", subkey);
    return nullptr;
  }
  const RegistryValue* value = data.FindValue(key, Show(name));
  if (!value) {
    korvo::platform::SetLastError(korvo::platform::kErrorFileNotFound);
    if (tracing == Tracing::kTraced) DebugPrint("Read RegQueryValueEx '%s':'%s'\n", Show(subkey), Show(name));
  }
  return value;
}

// Copies the value into the buffer. A string read also makes room for the NUL
// when the stored value lacks one, so the caller always gets a terminated text.
int Read(RegistryHive hive, const char* subkey, const char* name, void* buffer, uint32_t size, bool isString,
         Tracing tracing = Tracing::kTraced) {
  RegistryHiveData data;
  const RegistryValue* value = Query(hive, subkey, name, data, tracing);
  if (!value) return 0;
  const std::vector<uint8_t>& bytes = value->data;
  bool addNul = isString && (bytes.empty() || bytes.back() != 0);
  if (!buffer) size = 0;
  // Compared without adding to the size, so no wrapped sum passes for a fit.
  if (bytes.size() > size || (addNul && bytes.size() == size)) {
    korvo::platform::SetLastError(korvo::platform::kErrorMoreData);
    if (tracing == Tracing::kTraced) DebugPrint("Read RegQueryValueEx '%s':'%s'\n", Show(subkey), Show(name));
    return 0;
  }
  if (!bytes.empty()) std::memcpy(buffer, bytes.data(), bytes.size());
  if (addNul) static_cast<char*>(buffer)[bytes.size()] = 0;
  return 1;
}

int ReadStr(RegistryHive hive, const char* subkey, const char* name, char* buffer, uint32_t size) {
  return Read(hive, subkey, name, buffer, size, true);
}

int ReadDword(RegistryHive hive, const char* subkey, const char* name, uint32_t* value,
              Tracing tracing = Tracing::kTraced) {
  uint32_t x = 0;  // a shorter value fills the low bytes of 0, not of stale data
  if (!Read(hive, subkey, name, &x, sizeof x, false, tracing)) return 0;
  if (value) *value = x;
  return 1;
}

// The writer's walk: base key, subkey, value, all in one locked update of the hive.
int Write(RegistryHive hive, const char* subkey, const char* name, uint32_t type, const void* data, uint32_t size) {
  enum class Step { kNone, kSubkey, kValue } failed = Step::kNone;
  RegistryUpdate result = korvo::platform::UpdateRegistryHive(hive, [&](RegistryHiveData& hiveData) {
    hiveData.CreateKey(kBaseKey);
    std::string key = KeyPath(subkey);
    if (HasSubkey(subkey) && !hiveData.CreateKey(key)) {
      failed = Step::kSubkey;
      return false;
    }
    if (!data && size > 0) {
      korvo::platform::SetLastError(EINVAL);
      failed = Step::kValue;
      return false;
    }
    RegistryValue value;
    value.type = type;
    if (size > 0) value.data.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
    if (!hiveData.SetValue(key, Show(name), std::move(value))) {
      failed = Step::kValue;
      return false;
    }
    return true;
  });
  switch (result) {
    case RegistryUpdate::kDone:
      return 1;
    case RegistryUpdate::kOpenFailed:
      DebugPrintLastError("Write RegCreateKeyEx");
      return 0;
    case RegistryUpdate::kRefused:
      if (failed == Step::kSubkey) {
        DebugPrintLastError("RegCreateKeyEx2");
        return 0;
      }
      break;
    case RegistryUpdate::kWriteFailed:
      break;
  }
  DebugPrintLastError("Write RegSetValueEx");
  DebugPrint("Write RegSetValueEx '%s':'%s'\n", Show(subkey), Show(name));
  return 0;
}

int WriteStr(RegistryHive hive, const char* subkey, const char* name, const char* text) {
  if (!text) return Write(hive, subkey, name, korvo::platform::kRegSz, nullptr, 1);
  return Write(hive, subkey, name, korvo::platform::kRegSz, text, static_cast<uint32_t>(std::strlen(text) + 1));
}

int WriteDword(RegistryHive hive, const char* subkey, const char* name, uint32_t value) {
  uint8_t bytes[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
  return Write(hive, subkey, name, korvo::platform::kRegDword, bytes, sizeof bytes);
}

int ReadFlag(const char* name, uint32_t* flag) {
  uint32_t value;
  if (!ReadDword(kMachine, "Server", name, &value)) return 0;
  if (flag) *flag = value != 0 ? 1 : 0;
  return 1;
}

}  // namespace

extern "C" {

int KvWriteRegStr(const char* subkey, const char* name, const char* text) { return WriteStr(kMachine, subkey, name, text); }
int KvWriteRegUserStr(const char* subkey, const char* name, const char* text) { return WriteStr(kUser, subkey, name, text); }
int KvWriteRegDword(const char* subkey, const char* name, uint32_t value) { return WriteDword(kMachine, subkey, name, value); }
int KvWriteRegUserDword(const char* subkey, const char* name, uint32_t value) { return WriteDword(kUser, subkey, name, value); }
int KvWriteRegBinary(const char* subkey, const char* name, const void* data, uint32_t size) {
  return Write(kMachine, subkey, name, korvo::platform::kRegBinary, data, size);
}
int KvWriteRegUserBinary(const char* subkey, const char* name, const void* data, uint32_t size) {
  return Write(kUser, subkey, name, korvo::platform::kRegBinary, data, size);
}

int KvReadRegStr(const char* subkey, const char* name, char* buffer, uint32_t size) {
  return ReadStr(kMachine, subkey, name, buffer, size);
}
int KvReadRegUserStr(const char* subkey, const char* name, char* buffer, uint32_t size) {
  return ReadStr(kUser, subkey, name, buffer, size);
}
int KvReadRegDword(const char* subkey, const char* name, uint32_t* value) { return ReadDword(kMachine, subkey, name, value); }
int KvReadRegUserDword(const char* subkey, const char* name, uint32_t* value) { return ReadDword(kUser, subkey, name, value); }
int KvReadRegBinary(const char* subkey, const char* name, void* buffer, uint32_t size) {
  return Read(kMachine, subkey, name, buffer, size, false);
}
int KvReadRegUserBinary(const char* subkey, const char* name, void* buffer, uint32_t size) {
  return Read(kUser, subkey, name, buffer, size, false);
}

int KvGetRegProductKey(char* buffer, uint32_t size) {
  if (!buffer || size < 39) return 0;
  std::memcpy(buffer, kBaseKey, sizeof kBaseKey);
  return 1;
}

#define KORVO_STRING_SETTING(get, set, hive, subkey, name)                                  \
  int get(char* buffer, uint32_t size) { return ReadStr(hive, subkey, name, buffer, size); } \
  int set(const char* text) { return WriteStr(hive, subkey, name, text); }
#define KORVO_DWORD_SETTING(get, set, hive, subkey, name)                              \
  int get(uint32_t* value) { return ReadDword(hive, subkey, name, value); }            \
  int set(uint32_t value) { return WriteDword(hive, subkey, name, value); }

KORVO_STRING_SETTING(KvGetDataPath, KvSetDataPath, kUser, nullptr, "DataPath")
KORVO_STRING_SETTING(KvGetInBoxPath, KvSetInBoxPath, kUser, nullptr, "InBoxPath")
KORVO_STRING_SETTING(KvGetOutBoxPath, KvSetOutBoxPath, kUser, nullptr, "OutBoxPath")
KORVO_STRING_SETTING(KvGetLocAddrBookName, KvSetLocAddrBookName, kUser, nullptr, "LocAddrBook")
KORVO_STRING_SETTING(KvGetDefaultServer, KvSetDefaultServer, kUser, nullptr, "DefaultServer")
KORVO_STRING_SETTING(KvGetSendFaxToLast, KvSetSendFaxToLast, kUser, nullptr, "SendFaxToLast")
KORVO_STRING_SETTING(KvGetSendFaxTitleLast, KvSetSendFaxTitleLast, kUser, nullptr, "SendFaxTitleLast")

KORVO_STRING_SETTING(KvGetKorvoCoreName, KvSetKorvoCoreName, kMachine, nullptr, "KorvoCore")
KORVO_STRING_SETTING(KvGetKorvoLensName, KvSetKorvoLensName, kMachine, nullptr, "KorvoLens")
KORVO_STRING_SETTING(KvGetKorvoDeskName, KvSetKorvoDeskName, kMachine, nullptr, "KorvoDesk")
KORVO_STRING_SETTING(KvGetKorvoInstallPath, KvSetKorvoInstallPath, kMachine, nullptr, "InstallPath")
KORVO_STRING_SETTING(KvGetKorvoDefaultUsersDataPath, KvSetKorvoDefaultUsersDataPath, kMachine, nullptr,
                     "DefaultUsersDataPath")
KORVO_STRING_SETTING(KvGetKorvoDefaultServer, KvSetKorvoDefaultServer, kMachine, nullptr, "DefaultServer")
KORVO_DWORD_SETTING(KvGetKorvoWorkstation, KvSetKorvoWorkstation, kMachine, nullptr, "SetupWorkstation")
KORVO_DWORD_SETTING(KvGetKorvoServer, KvSetKorvoServer, kMachine, nullptr, "SetupServer")

KORVO_STRING_SETTING(KvGetServerRoot, KvSetServerRoot, kMachine, "Server", "RootPath")
KORVO_STRING_SETTING(KvGetServerExe, KvSetServerExe, kMachine, "Server", "Korvo")
KORVO_STRING_SETTING(KvGetServiceName, KvSetServiceName, kMachine, "Server", "Service")
KORVO_DWORD_SETTING(KvGetServerMaxReq, KvSetServerMaxReq, kMachine, "Server", "MaxReq")
KORVO_DWORD_SETTING(KvGetServerMaxImg, KvSetServerMaxImg, kMachine, "Server", "MaxImg")
KORVO_DWORD_SETTING(KvGetServerMaxLog, KvSetServerMaxLog, kMachine, "Server", "MaxLog")

int KvGetServerTcpIp(uint32_t* flag) { return ReadFlag("TcpIp", flag); }
int KvSetServerTcpIp(uint32_t flag) { return WriteDword(kMachine, "Server", "TcpIp", flag); }
int KvGetServerPipes(uint32_t* flag) { return ReadFlag("Pipes", flag); }
int KvSetServerPipes(uint32_t flag) { return WriteDword(kMachine, "Server", "Pipes", flag); }

}  // extern "C"

KORVO_STRING_SETTING(GetSendFaxToServerLast, SetSendFaxToServerLast, kUser, nullptr, "SendFaxToServerLast")
KORVO_DWORD_SETTING(GetReadTimeout, SetReadTimeout, kMachine, nullptr, "ReadTimeout")
KORVO_STRING_SETTING(GetRemoteSshProgram, SetRemoteSshProgram, kMachine, "Remote", "SshProgram")
KORVO_STRING_SETTING(GetRemoteSshOptions, SetRemoteSshOptions, kMachine, "Remote", "SshOptions")
KORVO_STRING_SETTING(GetRemoteRelayPath, SetRemoteRelayPath, kMachine, "Remote", "RelayPath")
KORVO_STRING_SETTING(GetStationIdentifier, SetStationIdentifier, kMachine, "Server", "StationIdentifier")
KORVO_DWORD_SETTING(GetRetryTimeout, SetRetryTimeout, kMachine, "Server", "RetryTimeout")
KORVO_DWORD_SETTING(GetRetryAttempts, SetRetryAttempts, kMachine, "Server", "RetryAttempts")

#undef KORVO_STRING_SETTING
#undef KORVO_DWORD_SETTING

int GetKorvoCoreNameQuiet(char* buffer, uint32_t size) {
  return Read(kMachine, nullptr, "KorvoCore", buffer, size, true, Tracing::kQuiet);
}

int GetStationIdentifierString(std::string& out) {
  char buffer[64];
  if (!GetStationIdentifier(buffer, sizeof buffer)) return 0;
  out = buffer;
  return 1;
}

int SetStationIdentifierString(const std::string& text) { return SetStationIdentifier(text.c_str()); }

namespace {
std::atomic<uint32_t> gDebugFlags{0};
std::once_flag gDebugFlagsRead;
}  // namespace

int ReadDebugFlags(uint32_t* value) { return ReadDword(kMachine, nullptr, "DebugFlags", value, Tracing::kSilent); }

uint32_t GetDebugFlags() {
  std::call_once(gDebugFlagsRead, [] {
    korvo::platform::LastErrorGuard guard;
    uint32_t value = 0;
    if (ReadDebugFlags(&value)) gDebugFlags.store(value);
  });
  return gDebugFlags.load();
}

void SetDebugFlags(uint32_t value) {
  std::call_once(gDebugFlagsRead, [] {});
  gDebugFlags.store(value);
}
