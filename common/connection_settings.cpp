#include "common/connection_settings.h"

#include <cstring>
#include <vector>

#include "common/fields.h"
#include "common/settings.h"

namespace korvo {

bool ConnectionSettings::Decode(std::string_view text) {
  std::vector<std::string> f(kFieldCount);
  DecodeFields(text, f);
  stationId = f[0];
  retryAttempts = ParseDecimal(f[1]);
  retryInterval = ParseDecimal(f[2]);
  return true;
}

std::string ConnectionSettings::Encode() const {
  std::string text;
  EncodeFields(&text, {stationId, std::to_string(retryAttempts), std::to_string(retryInterval)}, kFieldCount);
  return text;
}

namespace {

int32_t ServerNumber(const char* name, uint32_t lower, uint32_t upper, uint32_t fallback) {
  uint32_t value = 0;
  if (KvReadRegDword("Server", name, &value) && value >= lower && value <= upper) return static_cast<int32_t>(value);
  KvWriteRegDword("Server", name, fallback);
  return static_cast<int32_t>(fallback);
}

}  // namespace

void ConnectionSettings::LoadDefaults() {
  retryInterval = ServerNumber("RetryTimeout", 1, 60, 3);
  retryAttempts = ServerNumber("RetryAttempts", 1, 10, 5);

  char buffer[260] = {};
  if (KvReadRegStr("Server", "StationIdentifier", buffer, 64)) {
    const std::size_t n = strnlen(buffer, 64);
    if (n > 0 && n <= kStationIdLength) {
      stationId.assign(buffer, n);
      return;
    }
  }
  std::memset(buffer, 0, sizeof buffer);
  if (!KvReadRegUserStr(nullptr, "DefaultServer", buffer, sizeof buffer) &&
      !KvReadRegStr(nullptr, "DefaultServer", buffer, sizeof buffer)) {
    stationId.clear();
    return;
  }
  // A longer name would be refused again at the next start and cannot be
  // sent as an identifier.
  stationId.assign(buffer, strnlen(buffer, kStationIdLength));
  KvWriteRegStr("Server", "StationIdentifier", stationId.c_str());
}

}  // namespace korvo
