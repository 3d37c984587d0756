#include "base/debug/activity_tracker.h"

#include <cstring>
#include <memory>

#include "base/message_loop/pending_task.h"
#include "base/process/process.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/thread_name_registry.h"

namespace base {
namespace debug {

namespace {

int64_t WallClockNow() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return static_cast<int64_t>(static_cast<uint64_t>(now.dwHighDateTime) << 32 |
                              now.dwLowDateTime);
}

int64_t TicksNowMicroseconds() {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  if (frequency.QuadPart == 0) return 0;
  return static_cast<int64_t>(static_cast<double>(counter.QuadPart) * 1000000.0 /
                              static_cast<double>(frequency.QuadPart));
}

// Data ids of owning-process blocks; 0 means "not set up" and is skipped.
std::atomic<uint32_t> g_next_data_id{1};

uint32_t NextDataId() {
  uint32_t id;
  do {
    id = g_next_data_id.fetch_add(1, std::memory_order_relaxed);
  } while (id == 0);
  return id;
}

}  // namespace

struct ThreadActivityTracker::Header {
  std::atomic<uint32_t> data_id;
  uint32_t padding0;
  int64_t process_id;
  int64_t create_stamp;
  int64_t thread_id;
  int64_t start_time;
  int64_t start_ticks;
  uint32_t stack_slots;
  uint32_t padding1;
  std::atomic<uint32_t> current_depth;
  std::atomic<uint32_t> data_unchanged;
  Activity last_exception;
  char thread_name[32];
};

size_t ThreadActivityTracker::SizeForStackDepth(int stack_depth) {
  return kHeaderSize + static_cast<size_t>(stack_depth) * sizeof(Activity);
}

ThreadActivityTracker::ThreadActivityTracker(void* block, size_t size)
    : header_(static_cast<Header*>(block)),
      stack_(reinterpret_cast<Activity*>(static_cast<char*>(block) + kHeaderSize)),
      stack_slots_(size >= kHeaderSize ? static_cast<uint32_t>((size - kHeaderSize) /
                                                               sizeof(Activity))
                                       : 0) {
  static_assert(sizeof(Header) == kHeaderSize, "thread activity header layout");
  if (size < SizeForStackDepth(2) || header_->data_id.load(std::memory_order_acquire) != 0)
    return;
  header_->thread_id = GetCurrentThreadId();
  header_->start_time = WallClockNow();
  header_->start_ticks = TicksNowMicroseconds();
  header_->stack_slots = stack_slots_;
  const char* name = ThreadNameRegistry::Instance()->GetName(GetCurrentThreadId());
  if (name) {
    std::strncpy(header_->thread_name, name, sizeof(header_->thread_name) - 1);
    header_->thread_name[sizeof(header_->thread_name) - 1] = '\0';
  }
  header_->process_id = GetCurrentProcessId();
  header_->create_stamp = WallClockNow();
  // Published last: a reader treats a block with a data id as set up.
  header_->data_id.store(NextDataId(), std::memory_order_release);
}

bool ThreadActivityTracker::IsValid() const {
  return stack_slots_ >= 2 && header_->data_id.load(std::memory_order_acquire) != 0 &&
         header_->process_id != 0 && header_->thread_id != 0 && header_->start_time != 0 &&
         header_->start_ticks != 0 && header_->stack_slots == stack_slots_ &&
         header_->thread_name[sizeof(header_->thread_name) - 1] == '\0';
}

ThreadActivityTracker::ActivityId ThreadActivityTracker::PushActivity(
    const void* program_counter, const void* origin, ActivityType type, uint64_t data) {
  uint32_t depth = header_->current_depth.load(std::memory_order_relaxed);
  if (depth < stack_slots_) {
    Activity& slot = stack_[depth];
    std::memset(&slot, 0, sizeof(slot));
    slot.time_internal = TicksNowMicroseconds();
    slot.calling_address = reinterpret_cast<uintptr_t>(program_counter);
    slot.origin_address = reinterpret_cast<uintptr_t>(origin);
    slot.activity_type = type;
    slot.data = data;
  }
  header_->current_depth.store(depth + 1, std::memory_order_release);
  return depth;
}

void ThreadActivityTracker::PopActivity(ActivityId) {
  header_->current_depth.fetch_sub(1, std::memory_order_release);
  header_->data_unchanged.store(0, std::memory_order_release);
}

uint32_t ThreadActivityTracker::depth() const {
  return header_->current_depth.load(std::memory_order_acquire);
}

namespace {

// A thread's tracker with the memory it lives in.
struct LocalThreadTracker {
  LocalThreadTracker(size_t size, std::atomic<int>* count)
      : block(new char[size]()), tracker(block.get(), size), tracker_count(count) {}
  std::unique_ptr<char[]> block;
  ThreadActivityTracker tracker;
  std::atomic<int>* tracker_count;
};

}  // namespace

std::atomic<GlobalActivityTracker*> GlobalActivityTracker::g_tracker_{nullptr};

void GlobalActivityTracker::CreateWithLocalMemory(size_t stack_memory_size) {
  GlobalActivityTracker* created = new GlobalActivityTracker(stack_memory_size);
  GlobalActivityTracker* expected = nullptr;
  if (!g_tracker_.compare_exchange_strong(expected, created)) delete created;
}

GlobalActivityTracker::GlobalActivityTracker(size_t stack_memory_size)
    : stack_memory_size_(stack_memory_size), thread_tracker_count_(0) {
  this_thread_tracker_.Initialize(&DeleteThreadTracker);
}

void GlobalActivityTracker::DeleteThreadTracker(void* tracker) {
  LocalThreadTracker* local = static_cast<LocalThreadTracker*>(tracker);
  local->tracker_count->fetch_sub(1);
  delete local;
}

ThreadActivityTracker* GlobalActivityTracker::GetTrackerForCurrentThread() const {
  LocalThreadTracker* local = static_cast<LocalThreadTracker*>(this_thread_tracker_.Get());
  return local ? &local->tracker : nullptr;
}

ThreadActivityTracker* GlobalActivityTracker::GetOrCreateTrackerForCurrentThread() {
  ThreadActivityTracker* tracker = GetTrackerForCurrentThread();
  if (tracker) return tracker;
  LocalThreadTracker* local = new LocalThreadTracker(stack_memory_size_, &thread_tracker_count_);
  if (!local->tracker.IsValid()) {
    delete local;
    return nullptr;
  }
  this_thread_tracker_.Set(local);
  thread_tracker_count_.fetch_add(1);
  return &local->tracker;
}

void GlobalActivityTracker::RecordLogMessage(StringPiece message) {
  AutoLock lock(lock_);
  log_messages_.push_back(message.as_string());
}

std::vector<std::string> GlobalActivityTracker::GetLogMessages() const {
  AutoLock lock(lock_);
  return log_messages_;
}

void GlobalActivityTracker::RecordProcessLaunch(DWORD process_id,
                                                const std::wstring& command_line) {
  std::string utf8 = WideToUTF8(command_line);
  AutoLock lock(lock_);
  known_processes_.erase(process_id);
  known_processes_.emplace(process_id, std::move(utf8));
}

void GlobalActivityTracker::RecordProcessExit(DWORD process_id, int) {
  AutoLock lock(lock_);
  known_processes_.erase(process_id);
}

bool GlobalActivityTracker::IsKnownProcess(DWORD process_id) const {
  AutoLock lock(lock_);
  return known_processes_.count(process_id) != 0;
}

ActivityScope::~ActivityScope() {
  if (tracker_) tracker_->PopActivity(id_);
}

void ActivityScope::Push(ThreadActivityTracker* tracker, const void* program_counter,
                         const void* origin, ActivityType type, uint64_t data) {
  if (!tracker) return;
  tracker_ = tracker;
  id_ = tracker->PushActivity(program_counter, origin, type, data);
}

LockAcquireActivityScope::LockAcquireActivityScope(const void* program_counter,
                                                   const void* lock) {
  GlobalActivityTracker* global = GlobalActivityTracker::Get();
  if (!global) return;
  Push(global->GetTrackerForCurrentThread(), program_counter, nullptr, ACT_LOCK_ACQUIRE,
       reinterpret_cast<uintptr_t>(lock));
}

EventWaitActivityScope::EventWaitActivityScope(const void* program_counter, HANDLE event) {
  GlobalActivityTracker* global = GlobalActivityTracker::Get();
  if (!global) return;
  Push(global->GetOrCreateTrackerForCurrentThread(), program_counter, nullptr, ACT_EVENT_WAIT,
       reinterpret_cast<uintptr_t>(event));
}

ThreadJoinActivityScope::ThreadJoinActivityScope(const void* program_counter, HANDLE thread) {
  GlobalActivityTracker* global = GlobalActivityTracker::Get();
  if (!global) return;
  Push(global->GetOrCreateTrackerForCurrentThread(), program_counter, nullptr, ACT_THREAD_JOIN,
       GetThreadId(thread));
}

ProcessWaitActivityScope::ProcessWaitActivityScope(const void* program_counter,
                                                   const Process& process) {
  GlobalActivityTracker* global = GlobalActivityTracker::Get();
  if (!global) return;
  Push(global->GetOrCreateTrackerForCurrentThread(), program_counter, nullptr,
       ACT_PROCESS_WAIT, process.Pid());
}

TaskActivityScope::TaskActivityScope(const void* program_counter, const PendingTask& task) {
  GlobalActivityTracker* global = GlobalActivityTracker::Get();
  if (!global) return;
  Push(global->GetOrCreateTrackerForCurrentThread(), program_counter,
       task.posted_from.program_counter(), ACT_TASK_RUN,
       static_cast<uint64_t>(static_cast<int64_t>(task.sequence_num)));
}

}  // namespace debug
}  // namespace base
