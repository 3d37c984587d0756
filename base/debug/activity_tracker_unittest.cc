#include "base/debug/activity_tracker.h"

#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "base/bind.h"
#include "base/debug/heap_usage_tracker.h"
#include "base/location.h"
#include "base/message_loop/pending_task.h"
#include "base/synchronization/lock.h"
#include "base/synchronization/sync_event.h"
#include "base/test/guarded_buffer_test_util.h"
#include "base/threading/thread.h"

namespace base {
namespace debug {
namespace {

const void* const kPc = reinterpret_cast<const void*>(0x1234);

TEST(ActivityTrackerTest, WithoutATrackerScopesRecordAndAllocateNothing) {
  ASSERT_EQ(nullptr, GlobalActivityTracker::Get());
  Lock lock;
  SyncEvent event(SyncEvent::MANUAL, SyncEvent::SIGNALED);
  PendingTask task(Location("Task", __FILE__, __LINE__, kPc), Closure());

  HeapUsageTracker::EnableHeapTracking();
  HeapUsageTracker usage;
  usage.Start();
  {
    lock.Acquire();
    lock.Release();
    event.Wait();
    TaskActivityScope task_scope(kPc, task);
    EventWaitActivityScope wait_scope(kPc, GetCurrentProcess());
    EXPECT_FALSE(task_scope.IsRecorded());
    EXPECT_FALSE(wait_scope.IsRecorded());
  }
  usage.Stop(false);
  // The same measurement does see an allocation: the hooks are live.
  HeapUsageTracker control;
  control.Start();
  std::unique_ptr<int> allocated(new int(1));
  control.Stop(false);
  ASSERT_TRUE(HeapUsageTracker::DisableHeapTrackingForTesting());

  EXPECT_EQ(0u, usage.usage().alloc_ops);
  EXPECT_EQ(0u, usage.usage().free_ops);
  EXPECT_EQ(1u, control.usage().alloc_ops);
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

// The block ends at an inaccessible page: a slot written past the last one crashes the test.
TEST(ActivityTrackerTest, TheLastSlotsStayInsideTheBlock) {
  const size_t size = ThreadActivityTracker::SizeForStackDepth(3);
  GuardedBuffer buffer(size);
  const std::string zeros(size, '\0');
  char* block = const_cast<char*>(buffer.Assign(zeros.data(), size));
  ThreadActivityTracker tracker(block, size);
  ASSERT_TRUE(tracker.IsValid());
  ASSERT_EQ(3u, tracker.stack_slots());

  ThreadActivityTracker::ActivityId ids[5];
  for (uint32_t i = 0; i < 5; ++i) {
    ids[i] = tracker.PushActivity(kPc, nullptr, ACT_LOCK_ACQUIRE, 100 + i);
    tracker.SetUserData(ids[i], 7 + i, 70 + i);
  }
  EXPECT_EQ(5u, tracker.depth());
  EXPECT_EQ(102u, tracker.activity(2).data);
  EXPECT_EQ(9u, tracker.activity(2).user_data_ref);
  EXPECT_EQ(72u, tracker.activity(2).user_data_id);
  for (uint32_t i = 5; i > 0; --i) tracker.PopActivity(ids[i - 1]);
  EXPECT_EQ(0u, tracker.depth());
}

// Each test gets its own tracker over a heap segment; released ones stay allocated.
class GlobalActivityTrackerTest : public testing::Test {
 protected:
  static constexpr int kStackDepth = 4;

  void SetUp() override {
    ASSERT_EQ(nullptr, GlobalActivityTracker::Get());
    GlobalActivityTracker::CreateWithLocalMemory(64 << 10, 7, kStackDepth);
    global_ = GlobalActivityTracker::Get();
    ASSERT_NE(nullptr, global_);
  }
  void TearDown() override { GlobalActivityTracker::ReleaseForTesting(); }

  // The number of blocks of |type| in the segment.
  int CountRecords(uint32_t type) const {
    PersistentMemoryAllocator::Iterator iterator(global_->allocator());
    int count = 0;
    while (iterator.GetNextOfType(type)) ++count;
    return count;
  }

  GlobalActivityTracker* global_ = nullptr;
};

TEST_F(GlobalActivityTrackerTest, NestedScopesBeyondTheSlots) {
  std::unique_ptr<EventWaitActivityScope> scopes[kStackDepth + 2];
  for (int i = 0; i < kStackDepth + 2; ++i) {
    scopes[i].reset(
        new EventWaitActivityScope(kPc, reinterpret_cast<HANDLE>(static_cast<uintptr_t>(i + 1))));
    EXPECT_TRUE(scopes[i]->IsRecorded());
  }
  ThreadActivityTracker* tracker = global_->GetTrackerForCurrentThread();
  ASSERT_NE(nullptr, tracker);
  EXPECT_EQ(static_cast<uint32_t>(kStackDepth + 2), tracker->depth());
  EXPECT_EQ(static_cast<uint64_t>(kStackDepth), tracker->activity(kStackDepth - 1).data);

  for (int i = kStackDepth + 1; i >= 2; --i) scopes[i].reset();
  EXPECT_EQ(2u, tracker->depth());
  EXPECT_EQ(0u, tracker->data_unchanged());
  EXPECT_EQ(ACT_EVENT_WAIT, tracker->activity(1).activity_type);
  EXPECT_EQ(2u, tracker->activity(1).data);
  EXPECT_EQ(1u, tracker->activity(0).data);
  {
    int lock = 0;
    LockAcquireActivityScope lock_scope(kPc, &lock);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(&lock), tracker->activity(2).data);
  }
  scopes[1].reset();
  scopes[0].reset();
  EXPECT_EQ(0u, tracker->depth());
}

TEST_F(GlobalActivityTrackerTest, ThreadStacksAreRetiredAndReused) {
  auto wait_once = [this] {
    // A lock acquisition alone makes no tracker.
    int lock = 0;
    LockAcquireActivityScope lock_scope(kPc, &lock);
    EXPECT_FALSE(lock_scope.IsRecorded());
    EXPECT_EQ(nullptr, global_->GetTrackerForCurrentThread());
    EventWaitActivityScope scope(kPc, GetCurrentProcess());
    EXPECT_TRUE(scope.IsRecorded());
    EXPECT_EQ(1, global_->thread_tracker_count());
  };
  std::thread(wait_once).join();
  EXPECT_EQ(0, global_->thread_tracker_count());
  EXPECT_EQ(1, CountRecords(kTypeIdActivityTrackerFree));
  EXPECT_EQ(0, CountRecords(kTypeIdActivityTracker));

  std::thread(wait_once).join();
  EXPECT_EQ(1, CountRecords(kTypeIdActivityTrackerFree)) << "the retired stack was reused";
  EXPECT_EQ(0, CountRecords(kTypeIdActivityTracker));
}

TEST_F(GlobalActivityTrackerTest, ScopeUserDataIsReleasedWithTheScope) {
  uint32_t ref = 0;
  {
    EventWaitActivityScope scope(kPc, GetCurrentProcess());
    scope.user_data().SetString("what", "installer.exe");
    ThreadActivityTracker* tracker = global_->GetTrackerForCurrentThread();
    const Activity& slot = tracker->activity(tracker->depth() - 1);
    ref = slot.user_data_ref;
    ASSERT_NE(0u, ref);
    EXPECT_EQ(scope.user_data().id(), slot.user_data_id);
    EXPECT_EQ(kTypeIdUserDataRecord, global_->allocator()->GetType(ref));
  }
  EXPECT_EQ(kTypeIdUserDataRecordFree, global_->allocator()->GetType(ref));
}

struct ExitReport {
  int calls = 0;
  DWORD thread_id = 0;
  int64_t process_id = 0;
  int exit_code = 0;
  int64_t phase = 0;
  std::string command_line;
  ActivityUserData::Snapshot data;
};

void RecordExit(ExitReport* report, int64_t process_id, int64_t, int exit_code, int64_t phase,
                const std::string& command_line, const ActivityUserData::Snapshot& data) {
  ++report->calls;
  report->thread_id = GetCurrentThreadId();
  report->process_id = process_id;
  report->exit_code = exit_code;
  report->phase = phase;
  report->command_line = command_line;
  report->data = data;
}

TEST_F(GlobalActivityTrackerTest, ProcessExitReportsAndRetiresTheChildsRecords) {
  const DWORD kChild = 4711;
  PersistentMemoryAllocator* allocator = global_->allocator();
  // Records the child left in the shared segment.
  auto make_record = [&](uint32_t type, size_t size) {
    PersistentMemoryAllocator::Reference ref = allocator->Allocate(size, type);
    allocator->MakeIterable(ref);
    return ref;
  };
  PersistentMemoryAllocator::Reference process_data =
      make_record(kTypeIdProcessDataRecord, 256);
  {
    ActivityUserData data(allocator->GetBlockData(process_data, kTypeIdProcessDataRecord, 256),
                          256, kChild);
    data.SetInt("process-phase", 3);
    data.SetString("channel", "beta");
  }
  PersistentMemoryAllocator::Reference user_data = make_record(kTypeIdUserDataRecord, 64);
  ActivityUserData(allocator->GetBlockData(user_data, kTypeIdUserDataRecord, 64), 64, kChild);
  PersistentMemoryAllocator::Reference stack = make_record(kTypeIdActivityTracker, 480);
  static_cast<OwningProcess*>(allocator->GetBlockData(stack, kTypeIdActivityTracker, 480))
      ->Initialize(kChild);
  // A later process that got the same id.
  PersistentMemoryAllocator::Reference later = make_record(kTypeIdUserDataRecord, 64);
  OwningProcess* later_owner =
      static_cast<OwningProcess*>(allocator->GetBlockData(later, kTypeIdUserDataRecord, 64));
  later_owner->Initialize(kChild);
  later_owner->create_stamp = ActivityWallClockNow() + 10000000000LL;

  ExitReport report;
  global_->SetProcessExitCallback(Bind(&RecordExit, &report), nullptr);
  global_->RecordProcessLaunch(kChild, L"child.exe --first");
  global_->RecordProcessLaunch(kChild, L"child.exe --second");
  EXPECT_TRUE(global_->IsKnownProcess(kChild));
  global_->RecordProcessExit(kChild, 9);
  EXPECT_FALSE(global_->IsKnownProcess(kChild));

  ASSERT_EQ(1, report.calls);
  EXPECT_EQ(kChild, report.process_id);
  EXPECT_EQ(9, report.exit_code);
  EXPECT_EQ(3, report.phase);
  EXPECT_EQ("child.exe --second", report.command_line);
  EXPECT_EQ("beta", report.data["channel"].bytes);

  EXPECT_EQ(~kTypeIdProcessDataRecord, allocator->GetType(process_data));
  EXPECT_EQ(~kTypeIdUserDataRecord, allocator->GetType(user_data));
  EXPECT_EQ(~kTypeIdActivityTracker, allocator->GetType(stack));
  EXPECT_EQ(kTypeIdUserDataRecord, allocator->GetType(later));
  // This process's own data stays.
  EXPECT_EQ(1, CountRecords(kTypeIdProcessDataRecord));
}

TEST_F(GlobalActivityTrackerTest, RecordsMadeAfterTheRealExitAreKept) {
  // A child that has ended; its handle keeps its id from being reused meanwhile.
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION child = {};
  wchar_t command[] = L"cmd.exe /c exit 0";
  ASSERT_TRUE(CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                             nullptr, nullptr, &startup, &child));
  CloseHandle(child.hThread);
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(child.hProcess, INFINITE));
  FILETIME creation, exit, kernel, user;
  ASSERT_TRUE(GetProcessTimes(child.hProcess, &creation, &exit, &kernel, &user));
  const int64_t exit_stamp =
      static_cast<int64_t>(static_cast<uint64_t>(exit.dwHighDateTime) << 32 | exit.dwLowDateTime);

  // A record stamped after that exit, as a process given the same id would make, reported
  // late: it is not the ended child's.
  PersistentMemoryAllocator* allocator = global_->allocator();
  PersistentMemoryAllocator::Reference later = allocator->Allocate(64, kTypeIdUserDataRecord);
  allocator->MakeIterable(later);
  OwningProcess* owner =
      static_cast<OwningProcess*>(allocator->GetBlockData(later, kTypeIdUserDataRecord, 64));
  owner->Initialize(child.dwProcessId);
  owner->create_stamp = exit_stamp + 1;
  global_->RecordProcessExit(child.dwProcessId, 0);
  CloseHandle(child.hProcess);
  EXPECT_EQ(kTypeIdUserDataRecord, allocator->GetType(later));
}

TEST_F(GlobalActivityTrackerTest, TheExitCallbackRunsOnItsRunner) {
  Thread runner("exit reports");
  ASSERT_TRUE(runner.Start());
  const DWORD runner_id = runner.WaitForThreadId();
  ExitReport report;
  global_->SetProcessExitCallback(Bind(&RecordExit, &report), runner.GetTaskRunner());
  global_->RecordProcessLaunch(4712, L"child.exe");
  global_->RecordProcessExit(4712, 5);
  runner.Stop();  // runs the posted report first
  ASSERT_EQ(1, report.calls);
  EXPECT_EQ(runner_id, report.thread_id);
  EXPECT_EQ(5, report.exit_code);
  EXPECT_EQ("child.exe", report.command_line);
  EXPECT_EQ(0, report.phase) << "the child left no process data";
}

TEST_F(GlobalActivityTrackerTest, LogMessagesAreRecordsOfTheSegment) {
  global_->RecordLogMessage(StringPiece("fatal: out of disk", 5));
  global_->RecordLogMessage("second");
  EXPECT_EQ(2, CountRecords(kTypeIdGlobalLogMessage));
  std::vector<std::string> messages = global_->GetLogMessages();
  ASSERT_EQ(2u, messages.size());
  EXPECT_EQ("fatal", messages[0]);
  EXPECT_EQ("second", messages[1]);
}

TEST(GlobalActivityTrackerFullTest, AFullSegmentMakesNoThreadTracker) {
  ASSERT_EQ(nullptr, GlobalActivityTracker::Get());
  // Room for the process data record only.
  GlobalActivityTracker::CreateWithLocalMemory(GlobalActivityTracker::kProcessDataSize + 512, 8,
                                               4);
  GlobalActivityTracker* global = GlobalActivityTracker::Get();
  ASSERT_NE(nullptr, global);
  std::thread([global] {
    EventWaitActivityScope scope(kPc, GetCurrentProcess());
    EXPECT_FALSE(scope.IsRecorded());
    EXPECT_EQ(0, global->thread_tracker_count());
  }).join();
  GlobalActivityTracker::ReleaseForTesting();
}

}  // namespace
}  // namespace debug
}  // namespace base
