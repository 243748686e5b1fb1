// The server's log: entries of event id 9000 in the event log "Korvo", read
// back by administrators (DumpToFile) and cleared (Clear).
#pragma once

#include <cstdint>

#include "common/status.h"

namespace korvo {

class SysLog {
 public:
  static constexpr char kLogName[] = "Korvo";
  static constexpr char kSourceName[] = "Korvo Server";
  static constexpr uint32_t kEventId = 9000;
  static constexpr uint32_t kMaxDumpLines = 1024;
  // The server's string resources.
  static constexpr uint32_t kStringNoPermissions = 9000;  // "[%s] User has no permissions"
  static constexpr uint32_t kStringOperationFailed = 9001;  // "[%s] Operation '%s' failed."

  // Registers the log in the registry; *ok is 0 when the log's key cannot be
  // created. The log file name is not used: the log lives in the event log.
  SysLog(const char* logFileName, uint32_t maxSize, int* ok);

  // One entry of the type information or error; the text is cut to 255
  // characters (at a character boundary).
  void Info(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void Error(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // An error entry from a string resource in the user's language; nothing
  // when the string does not exist.
  void ErrorFromResource(uint32_t stringId, ...);
  // The format of a string resource in the user's language; null when the
  // string does not exist.
  static const char* ResourceFormat(uint32_t stringId);

  // Writes the newest 1024 server entries into the existing file as lines of
  // type, time written and text (each field followed by 0x1B, then CR LF).
  Status DumpToFile(const char* fileName);
  // Empties the log without a backup.
  Status Clear();

  // Every entry is also printed to the console (console mode).
  static void SetConsoleEcho(bool on);

 private:
  void Write(uint16_t type, const char* format, va_list args) __attribute__((format(printf, 3, 0)));
};

}  // namespace korvo
