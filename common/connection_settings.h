// The server's connection parameters: station identifier, retry attempts and
// retry interval; sent as a 3-field record text, kept in the registry.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korvo {

struct ConnectionSettings {
  static constexpr int kFieldCount = 3;
  // The T.30 station identifier holds 20 characters.
  static constexpr std::size_t kStationIdLength = 20;

  bool Decode(std::string_view text);
  std::string Encode() const;

  // Reads Server\RetryTimeout (1-60, else 3), Server\RetryAttempts (1-10,
  // else 5) and Server\StationIdentifier (kept when set and at most 20
  // characters, else the default server name, cut to 20); each replaced
  // value is written back.
  void LoadDefaults();

  std::string stationId;
  int32_t retryAttempts = 0;
  int32_t retryInterval = 0;  // minutes
};

}  // namespace korvo
