// The server's connection parameters: station identifier, retry attempts and
// retry interval; sent as a 3-field record text, kept in the registry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/field_sizes.h"

namespace korvo {

struct ConnectionSettings {
  static constexpr int kFieldCount = 3;
  // In bytes, as the denied-sender records hold identifiers.
  static constexpr std::size_t kStationIdLength = field_size::kStationId;

  bool Decode(std::string_view text);
  std::string Encode() const;

  // Reads Server\RetryTimeout (1-60, else 3), Server\RetryAttempts (1-10,
  // else 5) and Server\StationIdentifier (kept when set and at most 20
  // bytes, else the default server name cut to 20 bytes of whole
  // characters); each replaced value is written back.
  void LoadDefaults();

  std::string stationId;
  int32_t retryAttempts = 0;
  int32_t retryInterval = 0;  // minutes
};

}  // namespace korvo
