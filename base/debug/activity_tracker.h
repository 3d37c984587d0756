// Activity tracking: for each thread, a stack of what it is doing right now (running a
// task, acquiring a lock, waiting on an event, joining a thread, waiting for a process),
// so that a hang or crash report can tell what every thread was blocked on. The scope
// objects are opened by the base layer around such operations; while no process-wide
// tracker exists (the normal case in the installer) they cost one pointer read.
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
#include <string>
#include <vector>

#include "base/strings/string_piece.h"
#include "base/synchronization/lock.h"
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

  uint32_t depth() const;
  uint32_t stack_slots() const { return stack_slots_; }
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
  // The tracker, or null.
  static GlobalActivityTracker* Get() { return g_tracker_.load(std::memory_order_acquire); }

  // Creates the process-wide tracker with thread stacks in ordinary memory, each
  // |stack_memory_size| bytes. Stays for the rest of the process.
  static void CreateWithLocalMemory(size_t stack_memory_size);

  GlobalActivityTracker(const GlobalActivityTracker&) = delete;
  GlobalActivityTracker& operator=(const GlobalActivityTracker&) = delete;

  ThreadActivityTracker* GetTrackerForCurrentThread() const;
  ThreadActivityTracker* GetOrCreateTrackerForCurrentThread();
  int thread_tracker_count() const { return thread_tracker_count_.load(); }

  // A copy of the text of a fatal log line.
  void RecordLogMessage(StringPiece message);
  std::vector<std::string> GetLogMessages() const;

  // Launched processes by id, their command lines stored as UTF-8.
  void RecordProcessLaunch(DWORD process_id, const std::wstring& command_line);
  void RecordProcessExit(DWORD process_id, int exit_code);
  bool IsKnownProcess(DWORD process_id) const;

 private:
  explicit GlobalActivityTracker(size_t stack_memory_size);

  static void DeleteThreadTracker(void* tracker);

  static std::atomic<GlobalActivityTracker*> g_tracker_;

  const size_t stack_memory_size_;
  TlsSlot this_thread_tracker_;
  std::atomic<int> thread_tracker_count_;

  mutable Lock lock_;
  std::vector<std::string> log_messages_;
  std::multimap<DWORD, std::string> known_processes_;
};

// Base of the scope family: pushes an activity on construction when a tracker exists
// and pops it on destruction; otherwise empty.
class ActivityScope {
 public:
  ~ActivityScope();
  ActivityScope(const ActivityScope&) = delete;
  ActivityScope& operator=(const ActivityScope&) = delete;

  bool IsRecorded() const { return tracker_ != nullptr; }

 protected:
  ActivityScope() = default;
  void Push(ThreadActivityTracker* tracker, const void* program_counter, const void* origin,
            ActivityType type, uint64_t data);

 private:
  ThreadActivityTracker* tracker_ = nullptr;
  ThreadActivityTracker::ActivityId id_ = 0;
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
