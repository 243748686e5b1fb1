// The event log store: one file per log, $KORVO_LOG_DIR/<log>.evt (default
// /var/log/korvo), holding records of type, time written, event id, category,
// source and strings. The file is a ring: when a new record does not fit in the
// log's size limit, the oldest records are overwritten. The limit is read from
// the log's registration (machine key
// System\CurrentControlSet\Services\EventLog\<log>, value MaxSize). Every entry
// is also sent to syslog, so it shows in the system journal.
//
// Processes and threads may share a log: every operation holds a flock on the
// file (exclusive to write, shared to read).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace korvo::platform {

inline constexpr uint16_t kEventError = 1;
inline constexpr uint16_t kEventWarning = 2;
inline constexpr uint16_t kEventInformation = 4;

// Registry key of a log's registration below the machine hive's root.
inline constexpr char kEventLogKey[] = "System\\CurrentControlSet\\Services\\EventLog";
// Size limit of a log without a (valid) registered MaxSize.
inline constexpr uint32_t kDefaultEventLogSize = 0x80000;
inline constexpr uint32_t kMinEventLogSize = 0x10000;
inline constexpr uint32_t kMaxEventLogSize = 0x40000000;

struct EventRecord {
  uint32_t recordNumber = 0;
  uint32_t timeWritten = 0;  // seconds since 1970
  uint32_t eventId = 0;
  uint16_t type = 0;
  uint16_t category = 0;
  std::string source;
  std::vector<std::string> strings;
};

// The folder of the log files and the file of one log.
std::string EventLogDir();
std::string EventLogPath(const std::string& logName);

class EventLog {
 public:
  EventLog() = default;
  ~EventLog();
  EventLog(const EventLog&) = delete;
  EventLog& operator=(const EventLog&) = delete;

  // Opens the log, creating its folder and an empty log when missing; false
  // with the last error set when that fails.
  bool Open(const std::string& logName);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

  // Appends one record stamped with the current time, overwriting the oldest
  // ones as needed. A record larger than the whole log is refused (EMSGSIZE).
  bool Report(const std::string& source, uint16_t type, uint16_t category, uint32_t eventId,
              const std::vector<std::string>& strings);
  // Calls visit for each record, newest first, until it returns false.
  bool ReadNewestFirst(const std::function<bool(const EventRecord&)>& visit);
  // Number of records held.
  bool Count(uint32_t& count);
  // Drops every record.
  bool Clear();

  // The size limit used for the log: its registered MaxSize, or the default;
  // kept within [kMinEventLogSize, kMaxEventLogSize].
  static uint32_t SizeLimit(const std::string& logName);

 private:
  std::string name_;
  int fd_ = -1;
};

}  // namespace korvo::platform
