// The notifier's options: kept in the user hive as "NotifyOptions", three
// fields each ended by 0x1B (sound "1"/"0", interval in minutes, event mask).
#pragma once

#include <string>

namespace korvo::notifier {

struct NotifyOptions {
  static constexpr int kDefaultMask = 0x8001;
  // Read into a buffer of this size; a longer value is not read.
  static constexpr unsigned kValueSize = 256;

  int eventMask = kDefaultMask;
  int interval = 1;  // minutes, as stored
  bool sound = true;
  std::string serverName;

  // Server name: the user's default server, else the machine's, else empty.
  // A missing or unreadable value keeps the defaults; a mask of 0 reads as
  // the default mask.
  void Load();
  bool Save() const;

  // Minutes between polls. A stored interval below 1 would poll at every
  // tick, so it polls every minute instead; the stored value stays.
  int PollMinutes() const { return interval < 1 ? 1 : interval; }
};

}  // namespace korvo::notifier
