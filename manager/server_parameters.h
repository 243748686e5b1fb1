// The Server Parameters dialog's behaviour, without windows: the station
// identifier (at most 20 bytes), the retry count (1 to 10) and the
// retry interval in minutes (1 to 60) are checked before anything is sent;
// OK then sets them with request 2130 under the login name, and a refusal
// keeps the dialog open. The server's version word shows as "%d.%02d".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/connection_settings.h"
#include "common/faxclient.h"
#include "manager/ui_services.h"

namespace korvo::manager {

inline constexpr int kServerParametersStationId = 1033;
inline constexpr int kServerParametersRetryCount = 1034;
inline constexpr int kServerParametersRetryInterval = 1035;
inline constexpr int kServerParametersVersion = 1038;

// "major.minor" from a version word, the minor number in two digits.
std::string VersionText(uint16_t version);

class ServerParameters {
 public:
  static constexpr std::size_t kStationIdLimit = ConnectionSettings::kStationIdLength;  // bytes
  static constexpr int kMinRetryCount = 1, kMaxRetryCount = 10;
  static constexpr int kMinRetryInterval = 1, kMaxRetryInterval = 60;

  ServerParameters(UiServices& ui, ConnectionSettings settings, uint16_t version, std::string server);

  const ConnectionSettings& settings() const { return settings_; }
  const std::string& versionText() const { return versionText_; }
  const std::string& server() const { return server_; }

  // OK with the controls' texts: true when the server took them and the
  // dialog ends. A refused value shows why and sends nothing; a refused
  // request shows the server's text. focus tells the control to go back to
  // (the field's id), 0 when none.
  bool Apply(const std::string& stationId, const std::string& retryCount, const std::string& retryInterval,
             int* focus = nullptr);

 private:
  UiServices& ui_;
  ConnectionSettings settings_;
  std::string versionText_;
  std::string server_;
  FaxClient client_;
};

}  // namespace korvo::manager
