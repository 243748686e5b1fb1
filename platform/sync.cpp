#include "platform/sync.h"

#include <chrono>

#include "platform/lasterror.h"

namespace korvo::platform {

namespace {

// Waits on cv until done() or the time-out; returns done().
template <typename Pred>
bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, uint32_t ms, Pred done) {
  if (ms == kInfinite) {
    cv.wait(lock, done);
    return true;
  }
  return cv.wait_until(lock, std::chrono::steady_clock::now() + std::chrono::milliseconds(ms), done);
}

}  // namespace

Mutex::~Mutex() { Close(); }

bool Mutex::Lock(uint32_t ms) {
  const auto self = std::this_thread::get_id();
  std::unique_lock<std::mutex> lock(m_);
  const bool free = WaitFor(cv_, lock, ms, [&] { return closed_ || depth_ == 0 || owner_ == self; });
  if (closed_) {
    SetLastError(EBADF);
    return false;
  }
  if (!free) {
    SetLastError(kErrorTimeout);
    return false;
  }
  owner_ = self;
  ++depth_;
  return true;
}

void Mutex::Unlock() {
  std::lock_guard<std::mutex> lock(m_);
  if (depth_ == 0 || owner_ != std::this_thread::get_id()) return;
  if (--depth_ == 0) {
    owner_ = {};
    cv_.notify_one();
  }
}

void Mutex::Close() {
  std::lock_guard<std::mutex> lock(m_);
  if (depth_ != 0 && owner_ == std::this_thread::get_id()) {
    depth_ = 0;
    owner_ = {};
  }
  closed_ = true;
  cv_.notify_all();
}

void Event::Set() {
  std::lock_guard<std::mutex> lock(m_);
  set_ = true;
  cv_.notify_all();
}

void Event::Reset() {
  std::lock_guard<std::mutex> lock(m_);
  if (!closed_) set_ = false;
}

bool Event::IsSet() {
  std::lock_guard<std::mutex> lock(m_);
  return set_;
}

bool Event::Wait(uint32_t ms) {
  std::unique_lock<std::mutex> lock(m_);
  if (WaitFor(cv_, lock, ms, [&] { return set_; })) return true;
  SetLastError(kErrorTimeout);
  return false;
}

void Event::Close() {
  std::lock_guard<std::mutex> lock(m_);
  set_ = true;
  closed_ = true;
  cv_.notify_all();
}

}  // namespace korvo::platform
