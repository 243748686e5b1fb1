#include "common/connection_settings.h"

#include <cstring>
#include <vector>

#include "common/fields.h"
#include "common/settings.h"
#include "common/utf8_cut.h"

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

int32_t Checked(int (*get)(uint32_t*), int (*set)(uint32_t), uint32_t lower, uint32_t upper, uint32_t fallback) {
  uint32_t value = 0;
  if (get(&value) && value >= lower && value <= upper) return static_cast<int32_t>(value);
  set(fallback);
  return static_cast<int32_t>(fallback);
}

}  // namespace

void ConnectionSettings::LoadDefaults() {
  retryInterval = Checked(GetRetryTimeout, SetRetryTimeout, 1, 60, 3);
  retryAttempts = Checked(GetRetryAttempts, SetRetryAttempts, 1, 10, 5);

  std::string current;
  if (GetStationIdentifierString(current) && !current.empty() && current.size() <= kStationIdLength) {
    stationId = current;
    return;
  }
  char server[260] = {};
  if (!KvGetDefaultServer(server, sizeof server) && !KvGetKorvoDefaultServer(server, sizeof server)) {
    stationId.clear();
    return;
  }
  // A longer name would be refused again at the next start and cannot be
  // sent as an identifier.
  stationId = Utf8Cut(std::string_view(server, strnlen(server, sizeof server)), kStationIdLength);
  SetStationIdentifierString(stationId);
}

}  // namespace korvo
