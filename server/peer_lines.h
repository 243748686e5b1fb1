// Limits the failure lines of each peer (a login, by its uid), so that one
// client's flood of refused requests cannot wrap the event log and erase
// what it held, whatever texts the flood is made of: within an interval a
// peer's first few lines are written, its further lines are only counted,
// and once the interval is over one line says how many were left out.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace korvo {

class PeerLines {
 public:
  static constexpr int64_t kIntervalMs = 60000;
  // A peer's lines written within an interval before the rest are counted.
  static constexpr uint32_t kWrittenInFull = 5;
  // Peers tracked at once; beyond that every count is written out early.
  static constexpr size_t kMaxTracked = 1024;

  using Sink = std::function<void(const std::string& line)>;
  using Clock = std::function<int64_t()>;  // ms, steady

  // The clock defaults to the steady clock.
  explicit PeerLines(Sink sink, Clock clock = {}, int64_t intervalMs = kIntervalMs);

  // Writes the line of the peer (its uid; login is how its lines name it),
  // or counts it when the peer has had its lines in this interval.
  void Write(uint32_t uid, const std::string& login, const std::string& line);
  // Writes the counts of the intervals that are over.
  void FlushDue();
  // Writes every count now (at shutdown).
  void FlushAll();

  // "[<login>] N more failure lines of uid U in S s, not written"
  static std::string CountLine(const std::string& login, uint32_t uid, uint32_t left, int64_t intervalMs);

 private:
  struct Entry {
    std::string login;  // as the peer's first line of the interval named it
    int64_t start = 0;
    uint32_t written = 0;  // in full, in this interval
    uint32_t left = 0;  // counted only
    uint64_t order = 0;  // when the peer's interval began, among the others
  };
  // Under the mutex; collects the lines to write, which are written outside
  // it.
  void CollectDue(int64_t now, bool all, std::vector<std::string>* out);

  Sink sink_;
  Clock clock_;
  int64_t intervalMs_;
  std::mutex mutex_;
  std::map<uint32_t, Entry> entries_;
  uint64_t order_ = 0;
};

}  // namespace korvo
