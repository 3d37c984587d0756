#include "base/tracked_objects.h"

#include <limits.h>

#include <atomic>

#include "base/command_line.h"
#include "base/message_loop/pending_task.h"
#include "base/metrics/histogram.h"
#include "base/threading/thread_local_storage.h"
#include "base/time/time.h"

namespace base {

namespace {

// 0 until the statistics are started, then 3; above 2 counts as active.
std::atomic<int> g_status{0};
const int kStatusActive = 3;

// Timing flag: 0 not computed, 1 on, 2 off.
std::atomic<int> g_timing{0};

TlsSlot g_thread_data_slot;
TrackedThreadData* g_all_thread_data = nullptr;
TrackedThreadData* g_first_retired = nullptr;
int g_incarnation_counter = 0;
int g_retired_count = 0;

Lock& ListLock() {
  static Lock* lock = new Lock();
  return *lock;
}

int32_t CapToInt32(uint64_t value) {
  return value > static_cast<uint64_t>(INT_MAX) ? INT_MAX : static_cast<int32_t>(value);
}

// Adds without passing INT_MAX; a field already at the cap stays there.
void SaturatingAdd(uint64_t addend, int32_t* field) {
  int64_t sum = static_cast<int64_t>(*field) + CapToInt32(addend);
  *field = sum > INT_MAX ? INT_MAX : static_cast<int32_t>(sum);
}

}  // namespace

Births::Births(const Location& location, TrackedThreadData* birth_thread)
    : location_(location), birth_thread_(birth_thread), birth_count_(1) {}

size_t TrackedThreadData::LocationHash::operator()(const Location& location) const {
  uint64_t file = reinterpret_cast<uint64_t>(location.file_name());
  uint64_t line = static_cast<uint64_t>(static_cast<int64_t>(location.line()));
  return static_cast<size_t>((file & 0xFFFFFFFFu) * 842304669u + (file >> 32) * 619063811u +
                             (line & 0xFFFFFFFFu) * 937041849u + (line >> 32) * 3309708029u);
}

bool TrackedThreadData::LocationEqual::operator()(const Location& a, const Location& b) const {
  return a.file_name() == b.file_name() && a.line() == b.line();
}

TrackedThreadData::TrackedThreadData(const std::string& sanitized_name)
    : thread_name_(sanitized_name) {}

// static
bool TrackedThreadData::IsActive() {
  return g_status.load(std::memory_order_acquire) > 2;
}

// static
bool TrackedThreadData::TimingEnabled() {
  int timing = g_timing.load(std::memory_order_relaxed);
  if (timing != 0)
    return timing == 1;
  // Before the command line exists, time everything and decide later.
  CommandLine* command_line = CommandLine::ForCurrentProcess();
  if (!command_line)
    return true;
  bool off = command_line->GetSwitchValueASCII("profiler-timing") == "0";
  g_timing.store(off ? 2 : 1, std::memory_order_relaxed);
  return !off;
}

// static
TrackedTime TrackedThreadData::Now() {
  if (!TimingEnabled() || !IsActive())
    return 0;
  int64_t ms = (TimeTicks::Now() - TimeTicks()).InMilliseconds();
  if (ms == std::numeric_limits<int64_t>::max())
    return 0xFFFFFFFFu;
  return static_cast<TrackedTime>(ms);
}

// static
void TrackedThreadData::EnsureInitialized() {
  if (g_status.load(std::memory_order_acquire) >= 2)
    return;
  AutoLock locked(ListLock());
  if (g_status.load(std::memory_order_relaxed) >= 2)
    return;
  if (!g_thread_data_slot.initialized())
    g_thread_data_slot.Initialize(&TrackedThreadData::OnThreadTermination);
  ++g_incarnation_counter;
  g_status.store(kStatusActive, std::memory_order_release);
}

// static
std::string TrackedThreadData::SanitizeThreadName(const std::string& name) {
  size_t end = name.size();
  while (end > 0 && name[end - 1] >= '0' && name[end - 1] <= '9')
    --end;
  if (end == name.size())
    return name;
  return name.substr(0, end) + "*";
}

// static
void TrackedThreadData::InitializeThreadContext(const std::string& name) {
  EnsureInitialized();
  if (g_thread_data_slot.Get())
    return;
  g_thread_data_slot.Set(GetRetiredOrCreate(SanitizeThreadName(name)));
}

// static
TrackedThreadData* TrackedThreadData::Get() {
  if (!g_thread_data_slot.initialized())
    return nullptr;
  TrackedThreadData* data = static_cast<TrackedThreadData*>(g_thread_data_slot.Get());
  if (data)
    return data;
  // A thread that never named itself, such as a Windows thread-pool thread.
  data = GetRetiredOrCreate("WorkerThread-*");
  g_thread_data_slot.Set(data);
  return data;
}

// static
TrackedThreadData* TrackedThreadData::GetRetiredOrCreate(const std::string& sanitized_name) {
  TimeTicks start = TimeTicks::Now();
  TrackedThreadData* data = nullptr;
  {
    AutoLock locked(ListLock());
    TrackedThreadData** link = &g_first_retired;
    while (*link) {
      if ((*link)->thread_name_ == sanitized_name) {
        data = *link;
        *link = data->next_retired_;
        data->next_retired_ = nullptr;
        break;
      }
      link = &(*link)->next_retired_;
    }
  }
  if (!data) {
    data = new TrackedThreadData(sanitized_name);
    data->random_number_ +=
        static_cast<uint32_t>(reinterpret_cast<uintptr_t>(data) / sizeof(TrackedThreadData));
    data->random_number_ ^= Now();
    AutoLock locked(ListLock());
    data->incarnation_ = g_incarnation_counter;
    data->next_ = g_all_thread_data;
    g_all_thread_data = data;
  }
  static Histogram* histogram = static_cast<Histogram*>(Histogram::FactoryTimeGet(
      "TrackedObjects.GetRetiredOrCreateThreadData", TimeDelta::FromMilliseconds(1),
      TimeDelta::FromSeconds(10)));
  histogram->AddTime(TimeTicks::Now() - start);
  return data;
}

// static
void TrackedThreadData::OnThreadTermination(void* thread_data) {
  TrackedThreadData* data = static_cast<TrackedThreadData*>(thread_data);
  AutoLock locked(ListLock());
  if (data->incarnation_ != g_incarnation_counter)
    return;
  ++g_retired_count;
  data->next_retired_ = g_first_retired;
  g_first_retired = data;
}

Births* TrackedThreadData::TallyABirth(const Location& location) {
  auto found = birth_map_.find(location);
  if (found != birth_map_.end()) {
    found->second->RecordBirth();
    return found->second;
  }
  Births* births = new Births(location, this);
  AutoLock locked(map_lock_);
  birth_map_[location] = births;
  return births;
}

void TrackedThreadData::TallyADeath(const Births& births, int32_t queue_duration,
                                    const TaskStopwatch& stopwatch) {
  int32_t run_duration = stopwatch.RunDurationMs();
  random_number_ += static_cast<uint32_t>(queue_duration) + static_cast<uint32_t>(run_duration) +
                    2147483647u;
  random_number_ ^=
      static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&births) / sizeof(Births));

  auto found = death_map_.find(&births);
  DeathData* data;
  if (found != death_map_.end()) {
    data = &found->second;
  } else {
    AutoLock locked(map_lock_);
    data = &death_map_[&births];
  }

  if (data->count < INT_MAX)
    ++data->count;
  if (data->sample_probability_count < INT_MAX)
    ++data->sample_probability_count;
  // Sums wrap rather than overflow (undefined for signed values).
  data->run_duration_sum = static_cast<int32_t>(static_cast<uint32_t>(data->run_duration_sum) +
                                                static_cast<uint32_t>(run_duration));
  data->queue_duration_sum = static_cast<int32_t>(
      static_cast<uint32_t>(data->queue_duration_sum) + static_cast<uint32_t>(queue_duration));
  if (data->run_duration_max < run_duration)
    data->run_duration_max = run_duration;
  if (data->queue_duration_max < queue_duration)
    data->queue_duration_max = queue_duration;
  // Each tally replaces the sample with probability 1 / count.
  if (random_number_ % static_cast<uint32_t>(data->sample_probability_count) == 0) {
    data->run_duration_sample = run_duration;
    data->queue_duration_sample = queue_duration;
  }

  if (stopwatch.heap_tracking_enabled()) {
    const debug::ThreadHeapUsage& usage = stopwatch.heap_usage();
    SaturatingAdd(usage.alloc_ops, &data->alloc_ops);
    SaturatingAdd(usage.free_ops, &data->free_ops);
    SaturatingAdd(usage.alloc_bytes, &data->allocated_bytes);
    SaturatingAdd(usage.free_bytes, &data->freed_bytes);
    SaturatingAdd(usage.alloc_overhead_bytes, &data->alloc_overhead_bytes);
    int32_t max_allocated = CapToInt32(usage.max_allocated_bytes);
    if (data->max_allocated_bytes < max_allocated)
      data->max_allocated_bytes = max_allocated;
  }
}

const DeathData* TrackedThreadData::FindDeathDataForTesting(const Births* births) {
  auto found = death_map_.find(births);
  return found == death_map_.end() ? nullptr : &found->second;
}

// static
void TrackedThreadData::TallyRunOnNamedThread(const PendingTask& task,
                                              const TaskStopwatch& stopwatch, Births* births) {
  TrackedThreadData* thread_data = stopwatch.GetThreadData();
  if (!thread_data || !births)
    return;
  int32_t queue_duration = 0;
  TrackedTime start = stopwatch.StartTime();
  if (start != 0)
    queue_duration = static_cast<int32_t>(start - task.EffectivePostTime());
  thread_data->TallyADeath(*births, queue_duration, stopwatch);
}

// No switch turns heap tracking on in this program, so the measurement stays off.
TaskStopwatch::TaskStopwatch() : heap_tracking_enabled_(false) {}

TaskStopwatch::~TaskStopwatch() = default;

void TaskStopwatch::Start() {
  start_time_ = TrackedThreadData::Now();
  if (heap_tracking_enabled_)
    heap_usage_.Start();
  current_thread_data_ = TrackedThreadData::Get();
  if (!current_thread_data_)
    return;
  parent_ = current_thread_data_->current_stopwatch_;
  current_thread_data_->current_stopwatch_ = this;
}

void TaskStopwatch::Stop() {
  TrackedTime end = TrackedThreadData::Now();
  if (heap_tracking_enabled_)
    heap_usage_.Stop(true);
  if (start_time_ != 0 && end != 0)
    wallclock_duration_ms_ = static_cast<int32_t>(end - start_time_);
  if (!current_thread_data_)
    return;
  current_thread_data_->current_stopwatch_ = parent_;
  if (parent_)
    parent_->excluded_duration_ms_ += wallclock_duration_ms_;
  parent_ = nullptr;
}

}  // namespace base
