#include "manager/server_parameters.h"

#include <cstdio>

#include "manager/dialog_rules.h"

namespace korvo::manager {

std::string VersionText(uint16_t version) {
  char text[16];
  std::snprintf(text, sizeof text, "%d.%02d", version >> 8 & 0xFF, version & 0xFF);
  return text;
}

ServerParameters::ServerParameters(UiServices& ui, ConnectionSettings settings, uint16_t version, std::string server)
    : ui_(ui), settings_(std::move(settings)), versionText_(VersionText(version)), server_(std::move(server)) {}

bool ServerParameters::Apply(const std::string& stationId, const std::string& retryCount,
                             const std::string& retryInterval, int* focus) {
  auto refuse = [&](const std::string& message, int control) {
    ShowText(ui_, message);
    if (focus) *focus = control;
    return false;
  };
  if (focus) *focus = 0;
  // The edit takes no more bytes than the identifier is stored in.
  if (!FitsField(stationId, kStationIdLimit))
    return refuse("Please enter no more than 20 characters.", kServerParametersStationId);
  const IntegerEntry count = ParseIntegerEntry(retryCount, kMinRetryCount, kMaxRetryCount);
  if (!count.value) return refuse(count.message, kServerParametersRetryCount);
  const IntegerEntry interval = ParseIntegerEntry(retryInterval, kMinRetryInterval, kMaxRetryInterval);
  if (!interval.value) return refuse(interval.message, kServerParametersRetryInterval);

  ConnectionSettings wanted;
  wanted.stationId = stationId;
  wanted.retryAttempts = *count.value;
  wanted.retryInterval = *interval.value;
  const RequestResult result = client_.SetServerParameters(server_.c_str(), wanted);
  if (result.status != 0) {
    ShowText(ui_, result.text);
    return false;
  }
  settings_ = wanted;
  return true;
}

}  // namespace korvo::manager
