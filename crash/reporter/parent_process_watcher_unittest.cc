#include "crash/reporter/parent_process_watcher.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "base/test/test_helper_process.h"
#include "base/win/scoped_handle.h"
#include "crash/reporter/pending_work_counter.h"

namespace crash_reporter {
namespace {

DWORD WINAPI WaitOnCounter(void* counter) {
  return static_cast<PendingWorkCounter*>(counter)->Wait() ? 0 : 1;
}

// A thread waiting on |counter| ends once the count has dropped to zero.
class CounterWaiter {
 public:
  explicit CounterWaiter(PendingWorkCounter* counter)
      : thread_(CreateThread(nullptr, 0, &WaitOnCounter, counter, 0, nullptr)) {}
  bool Done(DWORD wait_ms) const {
    return WaitForSingleObject(thread_.Get(), wait_ms) == WAIT_OBJECT_0;
  }

 private:
  base::ScopedHandle thread_;
};

TEST(PendingWorkCounterTest, SetOnlyWhenTheLastReferenceGoes) {
  PendingWorkCounter counter;
  ASSERT_TRUE(counter.Initialize());
  counter.AddRef();
  counter.AddRef();
  CounterWaiter waiter(&counter);
  counter.Release();
  EXPECT_FALSE(waiter.Done(50));
  counter.Release();
  EXPECT_TRUE(waiter.Done(60000));
}

TEST(ParentProcessWatcherTest, ReleasesOnceWhenTheParentEnds) {
  PendingWorkCounter counter;
  ASSERT_TRUE(counter.Initialize());
  counter.AddRef();  // outstanding work besides the parent
  base::ScopedHandle process, thread;
  ASSERT_TRUE(base::StartTestHelper(L"crash_host_test_helper.exe", L"", CREATE_SUSPENDED,
                                    &process, &thread));
  ParentProcessWatcher watcher(&counter);
  ASSERT_TRUE(watcher.Start(GetProcessId(process.Get())));
  CounterWaiter waiter(&counter);
  ASSERT_TRUE(TerminateProcess(process.Get(), 0));
  EXPECT_FALSE(waiter.Done(200)) << "the other reference still holds";
  watcher.Stop();  // after the parent's end: releases nothing more
  counter.Release();
  EXPECT_TRUE(waiter.Done(60000));
}

TEST(ParentProcessWatcherTest, StopReleasesWhileTheParentLives) {
  PendingWorkCounter counter;
  ASSERT_TRUE(counter.Initialize());
  ParentProcessWatcher watcher(&counter);
  ASSERT_TRUE(watcher.Start(GetCurrentProcessId()));
  CounterWaiter waiter(&counter);
  EXPECT_FALSE(waiter.Done(50));
  watcher.Stop();
  EXPECT_TRUE(waiter.Done(60000));
}

TEST(ParentProcessWatcherTest, AParentAlreadyGoneCannotBeWatched) {
  base::ScopedHandle process, thread;
  ASSERT_TRUE(base::StartTestHelper(L"crash_host_test_helper.exe", L"", CREATE_SUSPENDED,
                                    &process, &thread));
  const DWORD pid = GetProcessId(process.Get());
  ASSERT_TRUE(TerminateProcess(process.Get(), 0));
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.Get(), 60000));
  process.Set(nullptr);
  thread.Set(nullptr);
  PendingWorkCounter counter;
  ASSERT_TRUE(counter.Initialize());
  ParentProcessWatcher watcher(&counter);
  EXPECT_FALSE(watcher.Start(pid));
}

}  // namespace
}  // namespace crash_reporter
