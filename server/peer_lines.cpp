#include "server/peer_lines.h"

#include <algorithm>
#include <chrono>
#include <vector>

namespace korvo {

namespace {

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

PeerLines::PeerLines(Sink sink, Clock clock, int64_t intervalMs)
    : sink_(std::move(sink)), clock_(clock ? std::move(clock) : Clock(SteadyMs)), intervalMs_(intervalMs) {}

std::string PeerLines::CountLine(const std::string& login, uint32_t uid, uint32_t left, int64_t intervalMs) {
  return "[" + login + "] " + std::to_string(left) + (left == 1 ? " more failure line" : " more failure lines") +
         " of uid " + std::to_string(uid) + " in " + std::to_string(intervalMs / 1000) + " s, not written";
}

void PeerLines::CollectDue(int64_t now, bool all, std::vector<std::string>* out) {
  // The counts come out in the order their peers' intervals began.
  std::vector<std::pair<uint64_t, std::string>> due;
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (all || now - it->second.start >= intervalMs_) {
      if (it->second.left > 0)
        due.emplace_back(it->second.order, CountLine(it->second.login, it->first, it->second.left, intervalMs_));
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
  std::sort(due.begin(), due.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  for (auto& d : due) out->push_back(std::move(d.second));
}

void PeerLines::Write(uint32_t uid, const std::string& login, const std::string& line) {
  std::vector<std::string> out;
  {
    std::lock_guard hold(mutex_);
    const int64_t now = clock_();
    auto it = entries_.find(uid);
    if (it != entries_.end() && now - it->second.start < intervalMs_) {
      Entry& e = it->second;
      if (e.written >= kWrittenInFull) {
        ++e.left;
        return;
      }
      ++e.written;
      out.push_back(line);
    } else {
      // A peer whose flood went on into a new interval is only counted
      // there: a steady flood gives one line an interval.
      const bool goesOn = it != entries_.end() && it->second.left > 0;
      CollectDue(now, entries_.size() >= kMaxTracked, &out);
      entries_[uid] = goesOn ? Entry{login, now, kWrittenInFull, 1, ++order_} : Entry{login, now, 1, 0, ++order_};
      if (!goesOn) out.push_back(line);
    }
  }
  for (const auto& l : out) sink_(l);
}

void PeerLines::FlushDue() {
  std::vector<std::string> out;
  {
    std::lock_guard hold(mutex_);
    CollectDue(clock_(), false, &out);
  }
  for (const auto& l : out) sink_(l);
}

void PeerLines::FlushAll() {
  std::vector<std::string> out;
  {
    std::lock_guard hold(mutex_);
    CollectDue(0, true, &out);
  }
  for (const auto& l : out) sink_(l);
}

}  // namespace korvo
