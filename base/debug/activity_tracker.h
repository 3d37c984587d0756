// Activity tracking: for each thread, a stack of what it is doing right now (running a
// task, acquiring a lock, waiting on an event, joining a thread, waiting for a process),
// kept in a persistent memory segment so that another process can read, after a hang
// or crash, what every thread was blocked on. The segment also holds key/value user
// data, one process data record per process and copies of log lines. The scope objects
// are opened by the base layer around such operations; while no process-wide tracker
// exists (the normal case in the installer) they cost one pointer read.
//
//   {
//     base::debug::LockAcquireActivityScope scope(__builtin_return_address(0), &lock);
//     lock.Acquire();
//     ...
//   }
#ifndef BASE_DEBUG_ACTIVITY_TRACKER_H_
#define BASE_DEBUG_ACTIVITY_TRACKER_H_

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/callback.h"
#include "base/debug/activity_user_data.h"
#include "base/memory/ref_counted.h"
#include "base/metrics/persistent_memory_allocator.h"
#include "base/strings/string_piece.h"
#include "base/synchronization/lock.h"
#include "base/task_runner.h"
#include "base/threading/thread_local_storage.h"

namespace base {

class Process;
struct PendingTask;

namespace debug {

enum ActivityType : uint8_t {
  ACT_TASK_RUN = 0x10,
  ACT_LOCK_ACQUIRE = 0x20,
  ACT_EVENT_WAIT = 0x30,
  ACT_THREAD_JOIN = 0x41,
  ACT_PROCESS_WAIT = 0x51,
};

// Record types in the segment; a retired record carries the complement of its type.
enum : uint32_t {
  kTypeIdActivityTracker = 0x5D7381B3,
  kTypeIdUserDataRecord = 0x615EDDDA,
  kTypeIdProcessDataRecord = 0x615EDEDA,
  kTypeIdGlobalLogMessage = 0x4CF434FA,
  kTypeIdModuleInfoRecord = 0x05DB5F42,
  kTypeIdActivityTrackerFree = ~kTypeIdActivityTracker,
  kTypeIdUserDataRecordFree = ~kTypeIdUserDataRecord,
};


// One slot of a thread's activity stack (128 bytes, the layout readers expect).
struct Activity {
  int64_t time_internal;
  uint64_t calling_address;
  uint64_t origin_address;
  uint64_t call_stack[10];
  uint32_t user_data_ref;
  uint32_t user_data_id;
  uint8_t activity_type;
  uint8_t padding[7];
  uint64_t data;
};
static_assert(sizeof(Activity) == 128, "activity slot layout");

// The activity stack of one thread inside a memory block: a 224-byte header, then
// the slots. Only the owning thread pushes and pops.
class ThreadActivityTracker {
 public:
  typedef uint32_t ActivityId;

  static constexpr size_t kHeaderSize = 224;

  // Block size for |stack_depth| slots.
  static size_t SizeForStackDepth(int stack_depth);

  // Sets up the header of a zeroed block for the calling thread, or accepts one that
  // is already set up and valid. |block| must outlive this.
  ThreadActivityTracker(void* block, size_t size);
  ThreadActivityTracker(const ThreadActivityTracker&) = delete;
  ThreadActivityTracker& operator=(const ThreadActivityTracker&) = delete;

  bool IsValid() const;

  // Counts the depth even beyond the slots; deeper entries are not stored.
  ActivityId PushActivity(const void* program_counter, const void* origin, ActivityType type,
                          uint64_t data);
  void PopActivity(ActivityId id);

  // Ties the user data record |ref| with data id |id| to a stored slot.
  void SetUserData(ActivityId activity, uint32_t ref, uint32_t id);

  uint32_t depth() const;
  uint32_t data_unchanged() const;
  uint32_t stack_slots() const { return stack_slots_; }
  const char* thread_name() const;
  int64_t thread_id() const;
  // The stored slot |index| (below min(depth, stack_slots)).
  const Activity& activity(uint32_t index) const { return stack_[index]; }

 private:
  struct Header;

  Header* const header_;
  Activity* const stack_;
  const uint32_t stack_slots_;
};

// The process-wide tracker. Never created by the installer itself; while it is
// absent every hook returns at once.
class GlobalActivityTracker {
 public:
  // Retired thread stacks and user data records kept for reuse.
  static constexpr size_t kMaxCachedThreadMemories = 10;
  static constexpr size_t kMaxCachedUserDataMemories = 10;
  static constexpr size_t kUserDataSize = 1024;
  static constexpr size_t kProcessDataSize = 4096;
  static constexpr size_t kDefaultSegmentSize = 1 << 20;

  // (process id, exit stamp, exit code, "process-phase", command line, process data).
  typedef Callback<void(int64_t, int64_t, int, int64_t, const std::string&,
                        const ActivityUserData::Snapshot&)>
      ProcessExitCallback;

  // The tracker, or null.
  static GlobalActivityTracker* Get() { return g_tracker_.load(std::memory_order_acquire); }

  // Creates the process-wide tracker over |allocator| with thread stacks of
  // |stack_depth| slots, unless one exists. Stays for the rest of the process.
  static void CreateWithAllocator(std::unique_ptr<PersistentMemoryAllocator> allocator,
                                  int stack_depth);
  // The same over a zeroed heap segment of |segment_size| bytes.
  static void CreateWithLocalMemory(size_t segment_size, uint64_t id, int stack_depth);
  // The same over a heap segment of the default size, with thread stacks of
  // |stack_memory_size| bytes.
  static void CreateWithLocalMemory(size_t stack_memory_size);

  // Detaches the process-wide tracker and returns it. It is never deleted: threads may
  // still hold scopes that point into its memory.
  static GlobalActivityTracker* ReleaseForTesting();

  GlobalActivityTracker(const GlobalActivityTracker&) = delete;
  GlobalActivityTracker& operator=(const GlobalActivityTracker&) = delete;

  ThreadActivityTracker* GetTrackerForCurrentThread() const;
  ThreadActivityTracker* GetOrCreateTrackerForCurrentThread();
  int thread_tracker_count() const { return thread_tracker_count_.load(); }

  // A user data record for an activity scope (or one without memory), and its release.
  std::unique_ptr<ActivityUserData> GetUserDataForActivity(ThreadActivityTracker* tracker,
                                                           ThreadActivityTracker::ActivityId id);
  void ReleaseUserDataMemory(uint32_t ref);

  // This process's data: read back by whoever records its exit.
  ActivityUserData& process_data() { return process_data_; }

  // A copy of a log line.
  void RecordLogMessage(StringPiece message);
  // The log lines in the segment, oldest first.
  std::vector<std::string> GetLogMessages() const;

  // Launched processes by id, their command lines stored as UTF-8.
  void RecordProcessLaunch(DWORD process_id, const std::wstring& command_line);
  // Forgets the process and retires every record it left in the segment, after handing
  // its data to the exit callback.
  void RecordProcessExit(DWORD process_id, int exit_code);
  bool IsKnownProcess(DWORD process_id) const;
  // |task_runner| null: the callback runs on the thread that saw the exit.
  void SetProcessExitCallback(ProcessExitCallback callback,
                              scoped_refptr<TaskRunner> task_runner);

  PersistentMemoryAllocator* allocator() const { return allocator_.get(); }

 private:
  class ManagedThreadTracker;

  GlobalActivityTracker(std::unique_ptr<PersistentMemoryAllocator> allocator, int stack_depth,
                        std::unique_ptr<uint64_t[]> local_memory);

  static void Install(GlobalActivityTracker* tracker);
  static void DeleteThreadTracker(void* tracker);
  // A reference to a thread stack block, reused or new; 0 when the segment is full.
  PersistentMemoryAllocator::Reference TakeThreadMemory();
  void ReturnThreadMemory(PersistentMemoryAllocator::Reference ref);
  void CleanupAfterProcess(int64_t process_id, int64_t exit_stamp, int exit_code,
                           std::string command_line);

  static std::atomic<GlobalActivityTracker*> g_tracker_;

  // The segment's memory when the tracker made it itself.
  const std::unique_ptr<uint64_t[]> local_memory_;
  const std::unique_ptr<PersistentMemoryAllocator> allocator_;
  const size_t stack_memory_size_;
  TlsSlot this_thread_tracker_;
  std::atomic<int> thread_tracker_count_;

  Lock thread_tracker_lock_;
  std::vector<PersistentMemoryAllocator::Reference> thread_memory_cache_;
  std::unique_ptr<PersistentMemoryAllocator::Iterator> thread_memory_search_;

  Lock user_data_lock_;
  std::vector<PersistentMemoryAllocator::Reference> user_data_cache_;

  mutable Lock known_processes_lock_;
  std::map<int64_t, std::string> known_processes_;
  ProcessExitCallback exit_callback_;
  scoped_refptr<TaskRunner> exit_task_runner_;

  ActivityUserData process_data_;
};

// Base of the scope family: pushes an activity on construction when a tracker exists
// and pops it on destruction; otherwise empty.
class ActivityScope {
 public:
  ~ActivityScope();
  ActivityScope(const ActivityScope&) = delete;
  ActivityScope& operator=(const ActivityScope&) = delete;

  bool IsRecorded() const { return tracker_ != nullptr; }
  // Fields about this activity, in the segment while it is recorded (else dropped).
  ActivityUserData& user_data();

 protected:
  ActivityScope() = default;
  void Push(ThreadActivityTracker* tracker, const void* program_counter, const void* origin,
            ActivityType type, uint64_t data);

 private:
  ThreadActivityTracker* tracker_ = nullptr;
  ThreadActivityTracker::ActivityId id_ = 0;
  std::unique_ptr<ActivityUserData> user_data_;
};

// Never creates a thread tracker: lock acquisitions happen inside tracker creation.
class LockAcquireActivityScope : public ActivityScope {
 public:
  LockAcquireActivityScope(const void* program_counter, const void* lock);
};

class EventWaitActivityScope : public ActivityScope {
 public:
  EventWaitActivityScope(const void* program_counter, HANDLE event);
};

class ThreadJoinActivityScope : public ActivityScope {
 public:
  ThreadJoinActivityScope(const void* program_counter, HANDLE thread);
};

class ProcessWaitActivityScope : public ActivityScope {
 public:
  ProcessWaitActivityScope(const void* program_counter, const Process& process);
};

class TaskActivityScope : public ActivityScope {
 public:
  TaskActivityScope(const void* program_counter, const PendingTask& task);
};

}  // namespace debug
}  // namespace base

#endif  // BASE_DEBUG_ACTIVITY_TRACKER_H_
