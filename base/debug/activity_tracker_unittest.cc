#include "base/debug/activity_tracker.h"

#include <memory>
#include <thread>

#include <gtest/gtest.h>

namespace base {
namespace debug {
namespace {

const void* const kPc = reinterpret_cast<const void*>(0x1234);

// Runs first in this file: the process-wide tracker, once created, stays.
TEST(ActivityTrackerTest, ScopesAreEmptyWithoutATracker) {
  if (GlobalActivityTracker::Get()) GTEST_SKIP() << "a tracker was created earlier";
  int lock = 0;
  LockAcquireActivityScope lock_scope(kPc, &lock);
  EventWaitActivityScope wait_scope(kPc, GetCurrentProcess());
  EXPECT_FALSE(lock_scope.IsRecorded());
  EXPECT_FALSE(wait_scope.IsRecorded());
}

TEST(ActivityTrackerTest, DepthBeyondTheSlotsIsCountedNotStored) {
  size_t size = ThreadActivityTracker::SizeForStackDepth(2);
  std::unique_ptr<char[]> block(new char[size]());
  ThreadActivityTracker tracker(block.get(), size);
  ASSERT_TRUE(tracker.IsValid());
  EXPECT_EQ(2u, tracker.stack_slots());

  auto first = tracker.PushActivity(kPc, nullptr, ACT_LOCK_ACQUIRE, 11);
  auto second = tracker.PushActivity(kPc, nullptr, ACT_EVENT_WAIT, 22);
  auto third = tracker.PushActivity(kPc, nullptr, ACT_THREAD_JOIN, 33);
  EXPECT_EQ(3u, tracker.depth());
  EXPECT_EQ(22u, tracker.activity(1).data);
  tracker.PopActivity(third);
  tracker.PopActivity(second);
  EXPECT_EQ(1u, tracker.depth());
  EXPECT_EQ(ACT_LOCK_ACQUIRE, tracker.activity(0).activity_type);
  EXPECT_EQ(11u, tracker.activity(0).data);
  EXPECT_EQ(0x1234u, tracker.activity(0).calling_address);
  tracker.PopActivity(first);
  EXPECT_EQ(0u, tracker.depth());

  // A block that is already set up is taken over as it is.
  ThreadActivityTracker again(block.get(), size);
  EXPECT_TRUE(again.IsValid());

  size_t too_small = ThreadActivityTracker::SizeForStackDepth(1);
  std::unique_ptr<char[]> small_block(new char[too_small]());
  EXPECT_FALSE(ThreadActivityTracker(small_block.get(), too_small).IsValid());
}

TEST(ActivityTrackerTest, ScopesPushWhileATrackerExists) {
  GlobalActivityTracker::CreateWithLocalMemory(ThreadActivityTracker::SizeForStackDepth(4));
  GlobalActivityTracker* global = GlobalActivityTracker::Get();
  ASSERT_NE(nullptr, global);

  // A lock acquisition on a thread without a tracker records nothing and creates none.
  std::thread([global] {
    int lock = 0;
    LockAcquireActivityScope scope(kPc, &lock);
    EXPECT_FALSE(scope.IsRecorded());
    EXPECT_EQ(nullptr, global->GetTrackerForCurrentThread());
  }).join();

  {
    EventWaitActivityScope wait(kPc, GetCurrentProcess());
    EXPECT_TRUE(wait.IsRecorded());
    ThreadActivityTracker* tracker = global->GetTrackerForCurrentThread();
    ASSERT_NE(nullptr, tracker);
    int lock = 0;
    {
      LockAcquireActivityScope lock_scope(kPc, &lock);
      EXPECT_TRUE(lock_scope.IsRecorded());
      EXPECT_EQ(2u, tracker->depth());
      EXPECT_EQ(reinterpret_cast<uintptr_t>(&lock), tracker->activity(1).data);
    }
    EXPECT_EQ(1u, tracker->depth());
  }
  EXPECT_EQ(0u, global->GetTrackerForCurrentThread()->depth());
}

TEST(ActivityTrackerTest, KnownProcessesAndLogMessages) {
  GlobalActivityTracker::CreateWithLocalMemory(ThreadActivityTracker::SizeForStackDepth(4));
  GlobalActivityTracker* global = GlobalActivityTracker::Get();
  global->RecordProcessLaunch(4711, L"setup.exe --backend");
  global->RecordProcessLaunch(4711, L"setup.exe --again");
  EXPECT_TRUE(global->IsKnownProcess(4711));
  global->RecordProcessExit(4711, 0);
  EXPECT_FALSE(global->IsKnownProcess(4711));
  global->RecordLogMessage(StringPiece("fatal: out of disk", 5));
  EXPECT_EQ("fatal", global->GetLogMessages().back());
}

}  // namespace
}  // namespace debug
}  // namespace base
