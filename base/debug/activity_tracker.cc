#include "base/debug/activity_tracker.h"

#include <cstring>
#include <utility>

#include "base/bind.h"
#include "base/location.h"
#include "base/message_loop/pending_task.h"
#include "base/metrics/histogram.h"
#include "base/process/process.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/thread_name_registry.h"
#include "base/time/time.h"

namespace base {
namespace debug {

namespace {

int64_t TicksNow() { return TimeTicks::Now().ToInternalValue(); }

const char kProcessPhaseKey[] = "process-phase";

}  // namespace

struct ThreadActivityTracker::Header {
  OwningProcess owner;
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
      stack_slots_(size >= kHeaderSize && (size - kHeaderSize) / sizeof(Activity) <= UINT32_MAX
                       ? static_cast<uint32_t>((size - kHeaderSize) / sizeof(Activity))
                       : 0) {
  static_assert(sizeof(Header) == kHeaderSize, "thread activity header layout");
  if (stack_slots_ < 2 || header_->owner.data_id.load(std::memory_order_acquire) != 0) return;
  header_->thread_id = GetCurrentThreadId();
  header_->start_time = ActivityWallClockNow();
  header_->start_ticks = TicksNow();
  header_->stack_slots = stack_slots_;
  const char* name = ThreadNameRegistry::Instance()->GetName(GetCurrentThreadId());
  if (name) {
    std::strncpy(header_->thread_name, name, sizeof(header_->thread_name) - 1);
    header_->thread_name[sizeof(header_->thread_name) - 1] = '\0';
  }
  header_->owner.Initialize(0);
}

bool ThreadActivityTracker::IsValid() const {
  return stack_slots_ >= 2 && header_->owner.data_id.load(std::memory_order_acquire) != 0 &&
         header_->owner.process_id != 0 && header_->thread_id != 0 &&
         header_->start_time != 0 && header_->start_ticks != 0 &&
         header_->stack_slots == stack_slots_ &&
         header_->thread_name[sizeof(header_->thread_name) - 1] == '\0';
}

ThreadActivityTracker::ActivityId ThreadActivityTracker::PushActivity(
    const void* program_counter, const void* origin, ActivityType type, uint64_t data) {
  uint32_t depth = header_->current_depth.load(std::memory_order_relaxed);
  if (depth < stack_slots_) {
    Activity& slot = stack_[depth];
    std::memset(&slot, 0, sizeof(slot));
    slot.time_internal = TicksNow();
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

void ThreadActivityTracker::SetUserData(ActivityId activity, uint32_t ref, uint32_t id) {
  if (activity >= stack_slots_) return;
  stack_[activity].user_data_id = id;
  stack_[activity].user_data_ref = ref;
}

uint32_t ThreadActivityTracker::depth() const {
  return header_->current_depth.load(std::memory_order_acquire);
}

uint32_t ThreadActivityTracker::data_unchanged() const {
  return header_->data_unchanged.load(std::memory_order_acquire);
}

const char* ThreadActivityTracker::thread_name() const { return header_->thread_name; }

int64_t ThreadActivityTracker::thread_id() const { return header_->thread_id; }

// A thread's tracker with the segment block it lives in; the block is retired when
// the thread ends.
class GlobalActivityTracker::ManagedThreadTracker {
 public:
  ManagedThreadTracker(GlobalActivityTracker* owner, PersistentMemoryAllocator::Reference ref,
                       void* block, size_t size)
      : owner_(owner), ref_(ref), tracker_(block, size) {}
  ~ManagedThreadTracker() { owner_->ReturnThreadMemory(ref_); }

  GlobalActivityTracker* owner() const { return owner_; }
  ThreadActivityTracker* tracker() { return &tracker_; }

 private:
  GlobalActivityTracker* const owner_;
  const PersistentMemoryAllocator::Reference ref_;
  ThreadActivityTracker tracker_;
};

std::atomic<GlobalActivityTracker*> GlobalActivityTracker::g_tracker_{nullptr};

namespace {

void* AllocateProcessData(PersistentMemoryAllocator* allocator) {
  PersistentMemoryAllocator::Reference ref =
      allocator->Allocate(GlobalActivityTracker::kProcessDataSize, kTypeIdProcessDataRecord);
  if (!ref) return nullptr;
  allocator->MakeIterable(ref);
  return allocator->GetBlockData(ref, kTypeIdProcessDataRecord,
                                 GlobalActivityTracker::kProcessDataSize);
}

}  // namespace

GlobalActivityTracker::GlobalActivityTracker(std::unique_ptr<PersistentMemoryAllocator> allocator,
                                             int stack_depth,
                                             std::unique_ptr<uint64_t[]> local_memory)
    : local_memory_(std::move(local_memory)),
      allocator_(std::move(allocator)),
      stack_memory_size_(ThreadActivityTracker::SizeForStackDepth(stack_depth)),
      thread_tracker_count_(0),
      process_data_(AllocateProcessData(allocator_.get()), kProcessDataSize) {
  // Thread-exit destructors must not allocate.
  thread_memory_cache_.reserve(kMaxCachedThreadMemories);
  user_data_cache_.reserve(kMaxCachedUserDataMemories);
  this_thread_tracker_.Initialize(&DeleteThreadTracker);
}

void GlobalActivityTracker::Install(GlobalActivityTracker* tracker) {
  GlobalActivityTracker* expected = nullptr;
  if (!g_tracker_.compare_exchange_strong(expected, tracker)) delete tracker;
}

void GlobalActivityTracker::CreateWithAllocator(
    std::unique_ptr<PersistentMemoryAllocator> allocator, int stack_depth) {
  if (Get()) return;
  Install(new GlobalActivityTracker(std::move(allocator), stack_depth, nullptr));
}

void GlobalActivityTracker::CreateWithLocalMemory(size_t segment_size, uint64_t id,
                                                  int stack_depth) {
  if (Get()) return;
  std::unique_ptr<uint64_t[]> memory(new uint64_t[(segment_size + 7) / 8]());
  std::unique_ptr<PersistentMemoryAllocator> allocator(
      new PersistentMemoryAllocator(memory.get(), segment_size, 0, id, false));
  Install(new GlobalActivityTracker(std::move(allocator), stack_depth, std::move(memory)));
}

void GlobalActivityTracker::CreateWithLocalMemory(size_t stack_memory_size) {
  const size_t slots = stack_memory_size > ThreadActivityTracker::kHeaderSize
                           ? (stack_memory_size - ThreadActivityTracker::kHeaderSize) /
                                 sizeof(Activity)
                           : 0;
  CreateWithLocalMemory(kDefaultSegmentSize, 0, static_cast<int>(slots));
}

GlobalActivityTracker* GlobalActivityTracker::ReleaseForTesting() {
  return g_tracker_.exchange(nullptr);
}

void GlobalActivityTracker::DeleteThreadTracker(void* tracker) {
  ManagedThreadTracker* managed = static_cast<ManagedThreadTracker*>(tracker);
  managed->owner()->thread_tracker_count_.fetch_sub(1);
  delete managed;
}

ThreadActivityTracker* GlobalActivityTracker::GetTrackerForCurrentThread() const {
  ManagedThreadTracker* managed = static_cast<ManagedThreadTracker*>(this_thread_tracker_.Get());
  return managed ? managed->tracker() : nullptr;
}

PersistentMemoryAllocator::Reference GlobalActivityTracker::TakeThreadMemory() {
  while (!thread_memory_cache_.empty()) {
    PersistentMemoryAllocator::Reference ref = thread_memory_cache_.back();
    thread_memory_cache_.pop_back();
    if (allocator_->ChangeType(ref, kTypeIdActivityTracker, kTypeIdActivityTrackerFree, false))
      return ref;
  }

  // Stacks retired by threads of this or of earlier processes sharing the segment.
  if (!thread_memory_search_)
    thread_memory_search_.reset(new PersistentMemoryAllocator::Iterator(allocator_.get()));
  PersistentMemoryAllocator::Reference first = 0;
  bool restarted = false;
  for (;;) {
    uint32_t type = 0;
    PersistentMemoryAllocator::Reference ref = thread_memory_search_->GetNext(&type);
    if (!ref) {
      if (restarted) break;
      restarted = true;
      thread_memory_search_.reset(new PersistentMemoryAllocator::Iterator(allocator_.get()));
      continue;
    }
    if (ref == first) break;
    if (!first) first = ref;
    if (type == kTypeIdActivityTrackerFree &&
        allocator_->GetAllocSize(ref) >= stack_memory_size_ &&
        allocator_->ChangeType(ref, kTypeIdActivityTracker, kTypeIdActivityTrackerFree, false)) {
      return ref;
    }
  }

  PersistentMemoryAllocator::Reference ref =
      allocator_->Allocate(stack_memory_size_, kTypeIdActivityTracker);
  if (ref) allocator_->MakeIterable(ref);
  return ref;
}

void GlobalActivityTracker::ReturnThreadMemory(PersistentMemoryAllocator::Reference ref) {
  AutoLock lock(thread_tracker_lock_);
  if (allocator_->ChangeType(ref, kTypeIdActivityTrackerFree, kTypeIdActivityTracker, true) &&
      thread_memory_cache_.size() < kMaxCachedThreadMemories) {
    thread_memory_cache_.push_back(ref);
  }
}

ThreadActivityTracker* GlobalActivityTracker::GetOrCreateTrackerForCurrentThread() {
  ThreadActivityTracker* existing = GetTrackerForCurrentThread();
  if (existing) return existing;

  ManagedThreadTracker* managed = nullptr;
  {
    AutoLock lock(thread_tracker_lock_);
    PersistentMemoryAllocator::Reference ref = TakeThreadMemory();
    if (ref) {
      void* block = allocator_->GetBlockData(ref, kTypeIdActivityTracker, stack_memory_size_);
      if (block) managed = new ManagedThreadTracker(this, ref, block, stack_memory_size_);
    }
  }
  if (!managed) {
    static HistogramBase* no_memory = Histogram::FactoryCountsGet(
        "ActivityTracker.ThreadTrackers.MemLimitTrackerCount", 1000);
    if (no_memory) no_memory->Add(thread_tracker_count_.load());
    return nullptr;
  }
  if (!managed->tracker()->IsValid()) {
    delete managed;  // retires the block it found set up by someone else
    return nullptr;
  }
  this_thread_tracker_.Set(managed);
  const int count = thread_tracker_count_.fetch_add(1) + 1;
  static HistogramBase* trackers =
      LinearHistogram::FactoryGet("ActivityTracker.ThreadTrackers.Count", 100, 101);
  if (trackers) trackers->Add(count);
  return managed->tracker();
}

std::unique_ptr<ActivityUserData> GlobalActivityTracker::GetUserDataForActivity(
    ThreadActivityTracker* tracker, ThreadActivityTracker::ActivityId id) {
  if (id >= tracker->stack_slots()) return std::unique_ptr<ActivityUserData>(new ActivityUserData);
  PersistentMemoryAllocator::Reference ref = 0;
  {
    AutoLock lock(user_data_lock_);
    while (!user_data_cache_.empty() && !ref) {
      ref = user_data_cache_.back();
      user_data_cache_.pop_back();
      if (!allocator_->ChangeType(ref, kTypeIdUserDataRecord, kTypeIdUserDataRecordFree, false))
        ref = 0;
    }
    if (!ref) {
      ref = allocator_->Allocate(kUserDataSize, kTypeIdUserDataRecord);
      if (ref) allocator_->MakeIterable(ref);
    }
  }
  void* memory = ref ? allocator_->GetBlockData(ref, kTypeIdUserDataRecord, kUserDataSize) : nullptr;
  std::unique_ptr<ActivityUserData> data(new ActivityUserData(memory, memory ? kUserDataSize : 0));
  if (data->attached()) tracker->SetUserData(id, ref, data->id());
  return data;
}

void GlobalActivityTracker::ReleaseUserDataMemory(uint32_t ref) {
  AutoLock lock(user_data_lock_);
  if (allocator_->ChangeType(ref, kTypeIdUserDataRecordFree, kTypeIdUserDataRecord, true) &&
      user_data_cache_.size() < kMaxCachedUserDataMemories) {
    user_data_cache_.push_back(ref);
  }
}

void GlobalActivityTracker::RecordLogMessage(StringPiece message) {
  PersistentMemoryAllocator::Reference ref =
      allocator_->Allocate(message.size() + 1, kTypeIdGlobalLogMessage);
  char* memory = static_cast<char*>(
      allocator_->GetBlockData(ref, kTypeIdGlobalLogMessage, message.size() + 1));
  if (!memory) return;
  std::memcpy(memory, message.data(), message.size());
  memory[message.size()] = '\0';
  allocator_->MakeIterable(ref);
}

std::vector<std::string> GlobalActivityTracker::GetLogMessages() const {
  std::vector<std::string> messages;
  PersistentMemoryAllocator::Iterator iterator(allocator_.get());
  while (PersistentMemoryAllocator::Reference ref =
             iterator.GetNextOfType(kTypeIdGlobalLogMessage)) {
    const size_t size = allocator_->GetAllocSize(ref);
    const char* text =
        static_cast<const char*>(allocator_->GetBlockData(ref, kTypeIdGlobalLogMessage, size));
    if (text) messages.emplace_back(text, strnlen(text, size));
  }
  return messages;
}

void GlobalActivityTracker::RecordProcessLaunch(DWORD process_id,
                                                const std::wstring& command_line) {
  std::string utf8 = WideToUTF8(command_line);
  AutoLock lock(known_processes_lock_);
  known_processes_.erase(process_id);
  known_processes_.emplace(process_id, std::move(utf8));
}

bool GlobalActivityTracker::IsKnownProcess(DWORD process_id) const {
  AutoLock lock(known_processes_lock_);
  return known_processes_.count(process_id) != 0;
}

void GlobalActivityTracker::SetProcessExitCallback(ProcessExitCallback callback,
                                                   scoped_refptr<TaskRunner> task_runner) {
  AutoLock lock(known_processes_lock_);
  exit_callback_ = std::move(callback);
  exit_task_runner_ = std::move(task_runner);
}

namespace {

// When the process ended, in the records' stamp units. Records stamped after it belong to
// a process that got the same id since; without the process's own exit time only the
// present is an upper bound.
int64_t ProcessExitStamp(DWORD process_id) {
  Process process = Process::Open(process_id);
  FILETIME creation, exit, kernel, user;
  if (process.IsValid() && GetProcessTimes(process.Handle(), &creation, &exit, &kernel, &user)) {
    const int64_t stamp = static_cast<int64_t>(
        static_cast<uint64_t>(exit.dwHighDateTime) << 32 | exit.dwLowDateTime);
    if (stamp != 0) return stamp;
  }
  return ActivityWallClockNow();
}

}  // namespace

void GlobalActivityTracker::RecordProcessExit(DWORD process_id, int exit_code) {
  const int64_t exit_stamp = ProcessExitStamp(process_id);
  std::string command_line;
  scoped_refptr<TaskRunner> runner;
  {
    AutoLock lock(known_processes_lock_);
    auto found = known_processes_.find(process_id);
    if (found != known_processes_.end()) {
      command_line = std::move(found->second);
      known_processes_.erase(found);
    }
    if (!exit_callback_.is_null()) runner = exit_task_runner_;
  }
  if (runner && !runner->RunsTasksOnCurrentThread()) {
    // The tracker is never deleted, so the raw pointer stays good.
    runner->PostTask(Location("RecordProcessExit", __FILE__, __LINE__, GetCallerAddress()),
                     Bind(&GlobalActivityTracker::CleanupAfterProcess, this,
                          static_cast<int64_t>(process_id), exit_stamp, exit_code,
                          command_line));
    return;
  }
  CleanupAfterProcess(process_id, exit_stamp, exit_code, std::move(command_line));
}

void GlobalActivityTracker::CleanupAfterProcess(int64_t process_id, int64_t exit_stamp,
                                                int exit_code, std::string command_line) {
  ProcessExitCallback callback;
  {
    AutoLock lock(known_processes_lock_);
    callback = exit_callback_;
  }
  // A record made after the exit belongs to a new process that got the same id.
  auto made_by_process = [&](PersistentMemoryAllocator::Reference ref, uint32_t type) {
    const void* memory = allocator_->GetBlockData(ref, type, sizeof(OwningProcess));
    int64_t owner = 0, stamp = 0;
    return memory && OwningProcess::GetOwningProcessId(memory, &owner, &stamp) &&
           owner == process_id && stamp <= exit_stamp;
  };

  if (!callback.is_null()) {
    ActivityUserData::Snapshot data;
    PersistentMemoryAllocator::Iterator iterator(allocator_.get());
    while (PersistentMemoryAllocator::Reference ref =
               iterator.GetNextOfType(kTypeIdProcessDataRecord)) {
      if (!made_by_process(ref, kTypeIdProcessDataRecord)) continue;
      const size_t size = allocator_->GetAllocSize(ref);
      ActivityUserData process_data(
          allocator_->GetBlockData(ref, kTypeIdProcessDataRecord, size), size);
      // A record without memory leaves the snapshot empty, as a missing one does.
      (void)process_data.CreateSnapshot(&data);
      break;
    }
    int64_t phase = 0;
    auto found = data.find(kProcessPhaseKey);
    if (found != data.end() && found->second.bytes.size() == sizeof(phase))
      std::memcpy(&phase, found->second.bytes.data(), sizeof(phase));
    callback.Run(process_id, exit_stamp, exit_code, phase, command_line, data);
  }

  PersistentMemoryAllocator::Iterator iterator(allocator_.get());
  uint32_t type = 0;
  while (PersistentMemoryAllocator::Reference ref = iterator.GetNext(&type)) {
    if (type != kTypeIdActivityTracker && type != kTypeIdUserDataRecord &&
        type != kTypeIdProcessDataRecord && type != kTypeIdModuleInfoRecord) {
      continue;
    }
    // A block whose type another process changed first is no longer this process's.
    if (made_by_process(ref, type)) (void)allocator_->ChangeType(ref, ~type, type, true);
  }
}

ActivityScope::~ActivityScope() {
  if (!tracker_) return;
  if (id_ < tracker_->stack_slots()) {
    const uint32_t ref = tracker_->activity(id_).user_data_ref;
    GlobalActivityTracker* global = GlobalActivityTracker::Get();
    if (ref && global) global->ReleaseUserDataMemory(ref);
  }
  user_data_.reset();
  tracker_->PopActivity(id_);
}

ActivityUserData& ActivityScope::user_data() {
  if (!user_data_) {
    GlobalActivityTracker* global = GlobalActivityTracker::Get();
    if (tracker_ && global)
      user_data_ = global->GetUserDataForActivity(tracker_, id_);
    else
      user_data_.reset(new ActivityUserData);
  }
  return *user_data_;
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
