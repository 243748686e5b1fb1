// Mutex and manual-reset event with the time-outs the server's modules give.
// The mutex may be taken again by the thread that owns it, and Lock on a closed
// mutex fails, so a module being torn down refuses new work instead of hanging.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace korvo::platform {

inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;

class Mutex {
 public:
  Mutex() = default;
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  // True only when the mutex was acquired within ms (kInfinite waits for ever);
  // false on time-out (last error kErrorTimeout) and after Close.
  bool Lock(uint32_t ms);
  // Releases one level of ownership; ignored when the caller does not own it.
  void Unlock();
  // Releases the caller's ownership and makes every later Lock fail; waiting
  // threads give up at once.
  void Close();

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::thread::id owner_;
  uint32_t depth_ = 0;
  bool closed_ = false;
};

// Holds a Mutex for a scope once Lock succeeded.
class MutexLock {
 public:
  MutexLock(Mutex& m, uint32_t ms) : m_(m), locked_(m.Lock(ms)) {}
  ~MutexLock() {
    if (locked_) m_.Unlock();
  }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;
  bool locked() const { return locked_; }
  // Lets go before the end of the scope (before a long wait).
  void unlock() {
    if (locked_) m_.Unlock();
    locked_ = false;
  }

 private:
  Mutex& m_;
  bool locked_;
};

// A manual-reset event, not signalled when created.
class Event {
 public:
  Event() = default;
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void Reset();
  bool IsSet();
  // True unless the wait timed out (kInfinite waits for ever).
  bool Wait(uint32_t ms);
  // Signals the event for good: every waiter, present and future, returns.
  void Close();

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool set_ = false;
  bool closed_ = false;
};

}  // namespace korvo::platform
