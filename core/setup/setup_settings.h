// The choices of one setup run: what the wizard pages collect and the engine
// works from. One object per run, made by the entry point before the wizard.
#pragma once

#include <cstdint>
#include <string>

namespace korvo {

// The version this release records in SetupServer and SetupWorkstation
// (major * 256 + minor: 1.30).
inline constexpr int32_t kSetupVersion = 0x11E;

struct SetupSettings {
  // Install: 1 = install that part. Removal: the version installed (0 or
  // missing: not installed).
  int32_t server = 1;
  int32_t workstation = 1;
  int32_t retryTimeout = 3;   // minutes, 1..60
  int32_t retryAttempts = 5;  // 1..10
  int32_t maxImgId = 0;       // image id counter
  int32_t maxReqId = 0;       // request id counter
  std::string stationIdentifier;
  std::string rootDirectory = "/opt/korvo";
  std::string defaultServer;
  std::string usersDataPath;
  std::string groupName = "Velmora Korvo";
  std::string organization;
  std::string mainFaxNumber;
  std::string mainPhoneNumber;
  std::string contactPerson;
  std::string autoDispatchTo;
  std::string serviceAccount;
  std::string servicePassword;
  std::string mapiProfile;
  int32_t managerInStartup = 0;
  int32_t notifierInStartup = 1;

  // The values above replaced by what an earlier installation stored in the
  // machine hive (and the user's DefaultServer). A retry timeout or retry
  // count out of range, and a station identifier missing, empty or over 20
  // characters, are mended and written back.
  static SetupSettings Load();
};

}  // namespace korvo
