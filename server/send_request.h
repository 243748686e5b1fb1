// The unit of work a modem port gets: one job of a send batch (from the
// scheduler) or one document received in a call. The same 548-byte record
// serves both directions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace korvo {

// Job states a port sets on its requests.
inline constexpr int32_t kJobScheduled = 100;
inline constexpr int32_t kJobUserCanceled = 330;

struct SendRequestEntry {
  int32_t state = kJobScheduled;
  uint32_t jobId = 0;
  int32_t saferDialing = 0;  // safer dialing and transmission for this document
  char coverPath[260] = {};  // empty when there is no cover page
  char imagePath[260] = {};
  int32_t pages = 0;    // the page to start from when handed over; pages sent when returned
  int32_t seconds = 0;  // of connection, set by the port
  int32_t sent = 0;       // 1 when sent (or received) completely
  int32_t cancelled = 0;  // 1 when aborted by a user request
};
static_assert(sizeof(SendRequestEntry) == 548);
static_assert(offsetof(SendRequestEntry, imagePath) == 272 && offsetof(SendRequestEntry, pages) == 532 &&
              offsetof(SendRequestEntry, cancelled) == 544);

// The requests of one session, in the order they are handled.
class SendRequestList {
 public:
  static constexpr size_t kBlockSize = 10;

  SendRequestList() { entries_.reserve(kBlockSize); }

  void Add(const SendRequestEntry& entry) {
    if (entries_.size() == entries_.capacity()) entries_.reserve(entries_.size() + kBlockSize);
    entries_.push_back(entry);
  }
  int GetCount() const { return static_cast<int>(entries_.size()); }
  bool IsEmpty() const { return entries_.empty(); }
  SendRequestEntry& operator[](size_t i) { return entries_[i]; }
  const SendRequestEntry& operator[](size_t i) const { return entries_[i]; }
  auto begin() { return entries_.begin(); }
  auto end() { return entries_.end(); }
  auto begin() const { return entries_.begin(); }
  auto end() const { return entries_.end(); }

 private:
  std::vector<SendRequestEntry> entries_;
};

}  // namespace korvo
