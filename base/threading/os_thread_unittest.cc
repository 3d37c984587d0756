#include "base/threading/os_thread.h"

#include <gtest/gtest.h>

#include "base/synchronization/sync_event.h"
#include "base/threading/thread_name_registry.h"
#include "base/time/time.h"

namespace base {
namespace {

class PriorityReader : public OsThread::Delegate {
 public:
  void ThreadMain() override { priority = GetThreadPriority(GetCurrentThread()); }
  int priority = 0x7FFF;
};

TEST(OsThreadTest, PriorityReachesTheNewThread) {
  struct Case {
    uint32_t priority;
    int windows_priority;
  } const kCases[] = {
      {OsThread::PRIORITY_BACKGROUND, THREAD_PRIORITY_LOWEST},
      {OsThread::PRIORITY_NORMAL, THREAD_PRIORITY_NORMAL},
      {OsThread::PRIORITY_DISPLAY, THREAD_PRIORITY_ABOVE_NORMAL},
      {OsThread::PRIORITY_TIME_CRITICAL, THREAD_PRIORITY_TIME_CRITICAL},
      // Not a priority: the system refuses it and the thread stays normal.
      {7, THREAD_PRIORITY_NORMAL},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.priority);
    PriorityReader reader;
    HANDLE thread;
    ASSERT_TRUE(OsThread::Create(0, &reader, &thread, c.priority));
    OsThread::Join(thread);
    EXPECT_EQ(c.windows_priority, reader.priority);
  }
}

TEST(OsThreadTest, ImpossibleStackFailsTheCreation) {
  PriorityReader reader;
  HANDLE thread = nullptr;
  EXPECT_FALSE(OsThread::Create(size_t(1) << 46, &reader, &thread, OsThread::PRIORITY_NORMAL));
  EXPECT_EQ(nullptr, thread);
}

TEST(OsThreadTest, SleepNeverReturnsEarly) {
  const TimeDelta kDelays[] = {TimeDelta(), TimeDelta::FromMicroseconds(1500),
                               TimeDelta::FromMilliseconds(20)};
  for (TimeDelta delay : kDelays) {
    TimeTicks start = TimeTicks::Now();
    OsThread::Sleep(delay);
    EXPECT_GE(TimeTicks::Now() - start, delay);
  }
}

}  // namespace
}  // namespace base
