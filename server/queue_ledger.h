// The queue's group commit bookkeeping, apart so it can be read and tested
// on its own. Not thread-safe: the queue holds its save mutex around it.
#pragma once

#include <cstdint>
#include <unordered_set>

namespace korvo::queue_detail {

// Which write holds each save ticket and how it ended. Writes run one at a
// time, each covering the tickets taken since the one before began; a
// waiter learns the outcome of its own write, whatever writes ended since.
class CommitLedger {
 public:
  enum class Outcome { kPending, kSaved, kFailed };
  // The last ticket of the last write that ended.
  uint64_t EndedThrough() const { return endedThrough_; }
  // The write of the tickets after EndedThrough() up to `through` ended.
  void End(uint64_t through, bool ok);
  // The outcome of the ticket's write; a failure is told once, to the
  // ticket's one waiter.
  Outcome Take(uint64_t ticket);

 private:
  uint64_t endedThrough_ = 0;
  std::unordered_set<uint64_t> failed_;  // tickets of failed writes not yet told
};

}  // namespace korvo::queue_detail
