// Collapses repeated failure lines, so that one client's flood of refused
// requests cannot wrap the event log and erase what it held: within an
// interval a line is written the first few times, its further repeats are
// only counted, and once the interval is over one line says how often it
// came again.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace korvo {

class RepeatedLines {
 public:
  static constexpr int64_t kIntervalMs = 60000;
  // A line is written this often within an interval before it is counted.
  static constexpr uint32_t kWrittenInFull = 3;
  // Lines tracked at once; beyond that every count is written out early.
  static constexpr size_t kMaxTracked = 1024;

  using Sink = std::function<void(const std::string& line)>;
  using Clock = std::function<int64_t()>;  // ms, steady

  // The clock defaults to the steady clock.
  explicit RepeatedLines(Sink sink, Clock clock = {}, int64_t intervalMs = kIntervalMs);

  // Writes the line, or counts it when it was written within the interval.
  void Write(const std::string& line);
  // Writes the counts of the intervals that are over.
  void FlushDue();
  // Writes every count now (at shutdown).
  void FlushAll();

  // "<line> (repeated N more times in S s)"
  static std::string CountLine(const std::string& line, uint32_t repeats, int64_t intervalMs);

 private:
  struct Entry {
    int64_t start = 0;
    uint32_t written = 0;  // in full, in this interval
    uint32_t repeats = 0;  // counted only
    uint64_t order = 0;  // when the line came, among the others
  };
  // Under the mutex; collects the lines to write, which are written outside
  // it.
  void CollectDue(int64_t now, bool all, std::vector<std::string>* out);

  Sink sink_;
  Clock clock_;
  int64_t intervalMs_;
  std::mutex mutex_;
  std::map<std::string, Entry> entries_;
  uint64_t order_ = 0;
};

}  // namespace korvo
