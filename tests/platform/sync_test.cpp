#include "platform/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "platform/lasterror.h"

namespace korvo::platform {
namespace {

// Runs f on another thread and returns its result.
template <typename F>
auto OnOtherThread(F f) {
  return std::async(std::launch::async, f).get();
}

TEST(MutexTest, OwnerMayRelockAndOthersWaitUntilFullyReleased) {
  Mutex m;
  ASSERT_TRUE(m.Lock(0));
  ASSERT_TRUE(m.Lock(0));
  EXPECT_FALSE(OnOtherThread([&] { return m.Lock(0); }));
  EXPECT_EQ(GetLastError(), kErrorSuccess);  // the other thread's error stays there
  m.Unlock();
  EXPECT_FALSE(OnOtherThread([&] {
    bool got = m.Lock(0);
    return got || GetLastError() != kErrorTimeout;
  }));
  m.Unlock();
  EXPECT_TRUE(OnOtherThread([&] {
    bool got = m.Lock(0);
    if (got) m.Unlock();
    return got;
  }));
}

TEST(MutexTest, UnlockByAThreadThatDoesNotOwnItIsIgnored) {
  Mutex m;
  ASSERT_TRUE(m.Lock(kInfinite));
  OnOtherThread([&] {
    m.Unlock();
    return 0;
  });
  EXPECT_FALSE(OnOtherThread([&] { return m.Lock(0); }));
  m.Unlock();
}

TEST(MutexTest, CloseFailsEveryLockAndReleasesAWaiter) {
  Mutex m;
  ASSERT_TRUE(m.Lock(kInfinite));
  std::promise<void> waiting;
  auto waiter = std::async(std::launch::async, [&] {
    waiting.set_value();
    return m.Lock(kInfinite);
  });
  waiting.get_future().wait();
  m.Close();
  EXPECT_FALSE(waiter.get());
  EXPECT_FALSE(m.Lock(0));
}

TEST(MutexTest, ScopedLockReleasesOnExit) {
  Mutex m;
  {
    MutexLock hold(m, 0);
    ASSERT_TRUE(hold.locked());
    EXPECT_FALSE(OnOtherThread([&] { return m.Lock(0); }));
  }
  EXPECT_TRUE(OnOtherThread([&] {
    MutexLock hold(m, 0);
    return hold.locked();
  }));
}

TEST(EventTest, ManualResetStaysSignalledUntilReset) {
  Event e;
  EXPECT_FALSE(e.Wait(0));
  EXPECT_EQ(GetLastError(), kErrorTimeout);
  e.Set();
  EXPECT_TRUE(e.Wait(0));
  EXPECT_TRUE(e.Wait(kInfinite));
  e.Reset();
  EXPECT_FALSE(e.Wait(0));
}

TEST(EventTest, SetAndCloseWakeEveryWaiter) {
  for (bool close : {false, true}) {
    Event e;
    std::atomic<int> woken{0};
    std::thread a([&] { woken += e.Wait(kInfinite); });
    std::thread b([&] { woken += e.Wait(kInfinite); });
    if (close) e.Close();
    else e.Set();
    a.join();
    b.join();
    EXPECT_EQ(woken, 2);
    e.Reset();
    EXPECT_EQ(e.Wait(0), close) << "a closed event stays signalled";
  }
}

}  // namespace
}  // namespace korvo::platform
