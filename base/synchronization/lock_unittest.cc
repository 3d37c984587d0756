#include "base/synchronization/lock.h"

#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace base {
namespace {

// A non-atomic read-modify-write that loses updates unless the lock serialises it.
TEST(Lock, SerialisesThreads) {
  Lock lock;
  volatile int counter = 0;
  constexpr int kThreads = 4;
  constexpr int kRounds = 20000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        AutoLock hold(lock);
        const int seen = counter;
        if (i % 64 == 0) SwitchToThread();  // invite another thread into the window
        counter = seen + 1;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(kThreads * kRounds, counter);
}

TEST(Lock, AutoLockReleasesAtScopeEnd) {
  Lock lock;
  { AutoLock hold(lock); }
  EXPECT_TRUE(TryAcquireSRWLockExclusive(lock.native_handle()));
  lock.Release();
}

}  // namespace
}  // namespace base
