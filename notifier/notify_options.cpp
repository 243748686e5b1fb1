#include "notifier/notify_options.h"

#include <cstdio>
#include <vector>

#include "common/fields.h"
#include "common/settings.h"

namespace korvo::notifier {

namespace {
constexpr const char* kValueName = "NotifyOptions";
}

void NotifyOptions::Load() {
  char server[256] = {};
  if (KvGetDefaultServer(server, sizeof server) || KvGetKorvoDefaultServer(server, sizeof server))
    serverName = server;
  else
    serverName.clear();

  char value[kValueSize] = {};
  if (!KvReadRegUserStr(nullptr, kValueName, value, sizeof value)) return;
  std::vector<std::string> fields(3);
  DecodeFields(value, fields);
  sound = fields[0] == "1";
  interval = ParseDecimal(fields[1]);
  eventMask = ParseDecimal(fields[2]);
  if (eventMask == 0) eventMask = kDefaultMask;
}

bool NotifyOptions::Save() const {
  std::string text;
  EncodeFields(&text, {sound ? "1" : "0", std::to_string(interval), std::to_string(eventMask)}, 3);
  return KvWriteRegUserStr(nullptr, kValueName, text.c_str()) == 1;
}

}  // namespace korvo::notifier
