#include "base/trace_event/trace_log.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "base/bind.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/process/process_util.h"
#include "base/strings/string_split.h"
#include "base/strings/stringprintf.h"
#include "base/threading/thread_name_registry.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/trace_event/event_name_filter.h"
#include "base/trace_event/heap_context_tracker.h"
#include "base/trace_event/heap_profiler_event_filter.h"
#include "base/trace_event/trace_buffer.h"
#include "base/trace_event/trace_event_etw_export_win.h"
#include "base/trace_event/trace_event_filter.h"
#include "base/trace_event/trace_event_memory_overhead.h"
#include "base/trace_event/thread_local_event_buffer.h"

namespace base {
namespace trace_event {

namespace {

enum BuiltInCategory {
  kCategoryExhausted = 0,
  kCategoryAlreadyShutdown = 1,
  kCategoryMetadata = 2,
  kCategoryTopLevel = 3,
  kBuiltInCategoryCount = 4,
};

const size_t kTraceEventVectorBufferChunks = 4000;
const size_t kTraceEventVectorBigBufferChunks = 8000000;
const size_t kTraceEventRingBufferChunks = 1000;
const size_t kEchoToConsoleTraceEventBufferChunks = 256;

const char kTraceLogName[] = "TraceLog";

TraceCategory g_categories[TraceLog::kMaxCategories] = {
    {{0}, {0}, {"tracing categories exhausted; must increase kMaxCategories"}},
    {{0}, {0}, {"tracing already shutdown"}},
    {{0}, {0}, {"__metadata"}},
    {{0}, {0}, {"toplevel"}},
};
// Raised only after a new entry is complete, so lock-free readers see whole entries.
std::atomic<size_t> g_category_count{kBuiltInCategoryCount};

std::atomic<uintptr_t> g_instance{0};

// Set while this thread is inside the trace log, so re-entrant calls are ignored.
thread_local bool t_in_trace_event = false;
thread_local bool t_blocks_message_loop = false;
// The thread-registry name this thread last reported.
thread_local const char* t_current_thread_name = nullptr;

// The filters of the current run; bit i of a category's filter bits is entry i. An
// entry is null when its configuration could not be turned into a filter.
std::vector<std::unique_ptr<TraceEventFilter>>& CategoryGroupFilters() {
  static auto* filters = new std::vector<std::unique_ptr<TraceEventFilter>>;
  return *filters;
}

const uint8_t* StateOf(size_t index) {
  // The state byte's address is handed out; the atomic has the byte's layout.
  static_assert(sizeof(std::atomic<uint8_t>) == 1, "state byte is one byte");
  return reinterpret_cast<const uint8_t*>(&g_categories[index].state);
}

TraceCategory* CategoryOf(const uint8_t* category_state) {
  const char* base = reinterpret_cast<const char*>(&g_categories[0].state);
  size_t offset = static_cast<size_t>(reinterpret_cast<const char*>(category_state) - base);
  return &g_categories[offset / sizeof(TraceCategory)];
}

const uint8_t* FindCategory(const char* name, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (std::strcmp(g_categories[i].name.load(std::memory_order_acquire), name) == 0)
      return StateOf(i);
  }
  return nullptr;
}

// The calling thread's CPU time in microseconds; 0 when it cannot be measured.
int64_t ThreadNow() {
  if (!ThreadTicks::IsSupported()) return 0;
  double frequency = ThreadTicks::TscTicksPerSecond();
  ULONG64 cycles = 0;
  if (frequency == 0 || !QueryThreadCycleTime(GetCurrentThread(), &cycles)) return 0;
  return static_cast<int64_t>(static_cast<double>(cycles) / frequency * 1000000.0);
}

int CurrentThreadId() { return static_cast<int>(GetCurrentThreadId()); }

class ScopedTraceReentranceGuard {
 public:
  ScopedTraceReentranceGuard() : entered_(!t_in_trace_event) { t_in_trace_event = true; }
  ~ScopedTraceReentranceGuard() {
    if (entered_) t_in_trace_event = false;
  }
  bool entered() const { return entered_; }

 private:
  bool entered_;
};

}  // namespace

// ------------------------------------------------------------------- creation

TraceLog* TraceLog::GetInstance() {
  uintptr_t value = g_instance.load(std::memory_order_acquire);
  if (value > 1) return reinterpret_cast<TraceLog*>(value);
  uintptr_t expected = 0;
  if (g_instance.compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) {
    HeapProfilerScopedIgnore ignore;
    TraceLog* created = new TraceLog;
    g_instance.store(reinterpret_cast<uintptr_t>(created), std::memory_order_release);
    return created;
  }
  while ((value = g_instance.load(std::memory_order_acquire)) <= 1) Sleep(0);
  return reinterpret_cast<TraceLog*>(value);
}

TraceLog::TraceLog()
    : logged_events_(CreateTraceBuffer(kRecordUntilFull, 0)),
      process_id_(static_cast<int32_t>(GetCurrentProcessId())),
      process_id_hash_((14695981039346656037ull ^ static_cast<uint64_t>(process_id_)) *
                       1099511628211ull) {
  RegisterDumpProvider(this, kTraceLogName, nullptr);
}

TraceLog::~TraceLog() = default;

// static
std::unique_ptr<TraceBuffer> TraceLog::CreateTraceBuffer(unsigned options, size_t max_chunks) {
  if (options & kRecordContinuously)
    return TraceBuffer::CreateTraceBufferRingBuffer(kTraceEventRingBufferChunks);
  if (options & kEchoToConsole)
    return TraceBuffer::CreateTraceBufferRingBuffer(kEchoToConsoleTraceEventBufferChunks);
  if (max_chunks) return TraceBuffer::CreateTraceBufferVectorOfSize(max_chunks);
  if (options & kRecordAsMuchAsPossible)
    return TraceBuffer::CreateTraceBufferVectorOfSize(kTraceEventVectorBigBufferChunks);
  return TraceBuffer::CreateTraceBufferVectorOfSize(kTraceEventVectorBufferChunks);
}

// ----------------------------------------------------------------- categories

const uint8_t* TraceLog::GetCategoryGroupEnabled(const char* category_group) {
  TraceLog* log = GetInstance();
  if (!log) return StateOf(kCategoryAlreadyShutdown);
  const uint8_t* found =
      FindCategory(category_group, g_category_count.load(std::memory_order_acquire));
  if (found) return found;

  AutoLock lock(log->lock_);
  size_t count = g_category_count.load(std::memory_order_acquire);
  found = FindCategory(category_group, count);
  if (found) return found;
  if (count >= kMaxCategories) return StateOf(kCategoryExhausted);
  HeapProfilerScopedIgnore ignore;
  TraceCategory& entry = g_categories[count];
  size_t length = std::strlen(category_group);
  char* copy = new char[length + 1];
  std::memcpy(copy, category_group, length + 1);
  entry.name.store(copy, std::memory_order_release);
  log->UpdateCategoryState(&entry);
  g_category_count.store(count + 1, std::memory_order_release);
  return StateOf(count);
}

const char* TraceLog::GetCategoryGroupName(const uint8_t* category_state) {
  size_t count = g_category_count.load(std::memory_order_acquire);
  for (size_t i = 0; i < count; ++i) {
    if (StateOf(i) == category_state) return g_categories[i].name.load(std::memory_order_acquire);
  }
  return g_categories[kCategoryExhausted].name.load(std::memory_order_acquire);
}

size_t TraceLog::GetCategoryCount() { return g_category_count.load(std::memory_order_acquire); }

void TraceLog::UpdateCategoryState(TraceCategory* category) {
  const char* name = category->name.load(std::memory_order_acquire);
  uint8_t state = 0;
  const uint8_t modes = enabled_modes_.load(std::memory_order_relaxed);
  if (modes & RECORDING_MODE) {
    if (trace_config_.category_filter.IsCategoryGroupEnabled(name)) state |= ENABLED_FOR_RECORDING;
    if (std::strcmp(name, "__metadata") == 0) state |= ENABLED_FOR_RECORDING;
  }
  if (TraceEventEtwExport::IsCategoryGroupEnabled(name)) state |= ENABLED_FOR_ETW_EXPORT;
  uint32_t filters = 0;
  for (size_t i = 0; i < enabled_event_filters_.size() && i < kMaxEventFilters; ++i) {
    if (enabled_event_filters_[i].category_filter().IsCategoryGroupEnabled(name)) {
      state |= ENABLED_FOR_FILTERING;
      filters |= 1u << i;
    }
  }
  category->enabled_filters.store(filters, std::memory_order_release);
  category->state.store(state, std::memory_order_release);
}

void TraceLog::UpdateCategoryRegistry() {
  CreateFiltersForTraceConfig();
  size_t count = g_category_count.load(std::memory_order_acquire);
  for (size_t i = 0; i < count; ++i) UpdateCategoryState(&g_categories[i]);
}

void TraceLog::CreateFiltersForTraceConfig() {
  std::vector<std::unique_ptr<TraceEventFilter>>& filters = CategoryGroupFilters();
  if (!(enabled_modes_.load(std::memory_order_relaxed) & FILTERING_MODE) || !filters.empty())
    return;
  for (const EventFilterConfig& config : enabled_event_filters_) {
    if (filters.size() >= kMaxEventFilters) break;
    std::unique_ptr<TraceEventFilter> filter;
    if (config.predicate_name() == EventNameFilter::kName) {
      // A whitelist without its list passes nothing.
      std::unique_ptr<EventNameFilter::EventNamesWhitelist> whitelist(
          new EventNameFilter::EventNamesWhitelist);
      bool has_list = config.GetArgAsSet("event_name_whitelist", whitelist.get());
      (void)has_list;
      filter.reset(new EventNameFilter(std::move(whitelist)));
    } else if (config.predicate_name() == HeapProfilerEventFilter::kName) {
      filter.reset(new HeapProfilerEventFilter);
    } else if (filter_factory_for_testing_) {
      filter = filter_factory_for_testing_(config.predicate_name());
    }
    // Kept even when null, so that filter i stays bit i.
    filters.push_back(std::move(filter));
  }
}

// ------------------------------------------------------------------- events

int64_t TraceLog::OffsetNow() const {
  return TimeDelta::SaturatedSub(TimeTicks::Now().ToInternalValue(), time_offset_);
}

bool TraceLog::IsEnabled() const { return enabled_modes_.load(std::memory_order_acquire) != 0; }

void TraceLog::InitializeThreadLocalEventBufferIfSupported() {
  ThreadLocalEventBuffer* buffer = ThreadLocalEventBuffer::Current();
  if (buffer && buffer->generation() == generation_.load(std::memory_order_acquire)) return;
  if (t_blocks_message_loop || !MessageLoop::Current()) return;
  HeapProfilerScopedIgnore ignore;
  delete buffer;
  new ThreadLocalEventBuffer(this);  // owned by the thread's loop from here on
}

void TraceLog::UpdateThreadName(int thread_id) {
  const char* name = ThreadNameRegistry::Instance()->GetName(static_cast<DWORD>(thread_id));
  if (!name || !*name || name == t_current_thread_name) return;
  t_current_thread_name = name;
  AutoLock lock(thread_info_lock_);
  auto found = thread_names_.find(thread_id);
  if (found == thread_names_.end()) {
    thread_names_[thread_id] = name;
    return;
  }
  std::vector<StringPiece> known =
      SplitStringPiece(found->second, ',', KEEP_WHITESPACE, SPLIT_WANT_ALL);
  if (std::find(known.begin(), known.end(), StringPiece(name)) != known.end()) return;
  found->second += ",";
  found->second += name;
}

TraceEventHandle TraceLog::AddEvent(char phase, const uint8_t* category_state, const char* name,
                                    const char* scope, uint64_t id, uint64_t bind_id,
                                    int thread_id, TimeTicks timestamp, int num_args,
                                    const char* const* arg_names, const uint8_t* arg_types,
                                    const uint64_t* arg_values,
                                    std::unique_ptr<ConvertableToTraceFormat>* convertable_values,
                                    unsigned int flags) {
  add_event_calls_.fetch_add(1, std::memory_order_relaxed);
  TraceEventHandle handle;
  ScopedTraceReentranceGuard guard;
  if (!guard.entered()) return handle;
  if (flags & kFlagMangleId) {
    id ^= process_id_hash_;
    if (flags & (kFlagFlowIn | kFlagFlowOut)) bind_id ^= process_id_hash_;
  }
  const int64_t now = TimeDelta::SaturatedSub(timestamp.ToInternalValue(), time_offset_);
  const int64_t thread_now = ThreadNow();
  const uint8_t state = *category_state;
  HeapProfilerScopedIgnore ignore;

  ThreadLocalEventBuffer* local_buffer = nullptr;
  if (state & ENABLED_FOR_RECORDING) {
    InitializeThreadLocalEventBufferIfSupported();
    local_buffer = ThreadLocalEventBuffer::Current();
    if (local_buffer && local_buffer->generation() != generation_.load(std::memory_order_acquire))
      local_buffer = nullptr;
  }
  if (thread_id == CurrentThreadId()) UpdateThreadName(thread_id);

  if (state & ENABLED_FOR_ETW_EXPORT)
    TraceEventEtwExport::AddEtwEvent(phase, name, num_args, arg_names, arg_types, arg_values);

  std::unique_ptr<TraceEvent> filtered_event;
  bool filtered_out = false;
  if (state & ENABLED_FOR_FILTERING) {
    filtered_event.reset(new TraceEvent);
    filtered_event->Initialize(thread_id, now, thread_now, phase, category_state, name, scope,
                               id, bind_id, num_args, arg_names, arg_types, arg_values,
                               convertable_values, flags);
    uint32_t bits = CategoryOf(category_state)->enabled_filters.load(std::memory_order_acquire);
    const std::vector<std::unique_ptr<TraceEventFilter>>& filters = CategoryGroupFilters();
    filtered_out = true;
    for (size_t i = 0; i < filters.size() && i < kMaxEventFilters; ++i) {
      if ((bits & (1u << i)) && filters[i] && filters[i]->FilterTraceEvent(*filtered_event))
        filtered_out = false;
    }
  }

  std::string console_message;
  if ((state & ENABLED_FOR_RECORDING) && !filtered_out) {
    bool locked = false;
    TraceEvent* slot;
    if (local_buffer) {
      slot = local_buffer->AddTraceEvent(&handle);
    } else {
      lock_.Acquire();
      locked = true;
      slot = AddEventToSharedChunkWhileLocked(&handle, true);
    }
    if (slot) {
      if (filtered_event)
        slot->MoveFrom(std::move(filtered_event));
      else
        slot->Initialize(thread_id, now, thread_now, phase, category_state, name, scope, id,
                         bind_id, num_args, arg_names, arg_types, arg_values,
                         convertable_values, flags);
      if (trace_options_.load(std::memory_order_relaxed) & kEchoToConsole)
        console_message = EventToConsoleMessage(phase == 'X' ? 'B' : phase, now, slot);
    }
    if (locked) lock_.Release();
  }
  if (!console_message.empty()) LOG(ERROR) << console_message;
  return handle;
}

TraceEvent* TraceLog::AddEventToSharedChunkWhileLocked(TraceEventHandle* handle,
                                                       bool check_full) {
  if (thread_shared_chunk_ && thread_shared_chunk_->IsFull())
    logged_events_->ReturnChunk(thread_shared_chunk_index_, std::move(thread_shared_chunk_));
  if (!thread_shared_chunk_) {
    thread_shared_chunk_ = logged_events_->GetChunk(&thread_shared_chunk_index_);
    if (!thread_shared_chunk_) return nullptr;
    if (check_full) {
      CheckIfBufferIsFullWhileLocked();
      // Stopping adds the metadata events to this chunk, and releases the lock for the
      // observers meanwhile: take whatever chunk is current now.
      return AddEventToSharedChunkWhileLocked(handle, false);
    }
  }
  return thread_shared_chunk_->AddTraceEvent(thread_shared_chunk_index_, handle);
}

void TraceLog::CheckIfBufferIsFullWhileLocked() {
  if (!logged_events_->IsFull()) return;
  if (buffer_limit_reached_timestamp_ == 0) buffer_limit_reached_timestamp_ = OffsetNow();
  SetDisabledWhileLocked(RECORDING_MODE);
}

TraceEvent* TraceLog::GetEventByHandleInternal(TraceEventHandle handle) {
  if (handle.chunk_seq == 0) return nullptr;
  ThreadLocalEventBuffer* local_buffer = ThreadLocalEventBuffer::Current();
  if (local_buffer && local_buffer->generation() == generation_.load(std::memory_order_acquire)) {
    if (TraceEvent* event = local_buffer->GetEventByHandle(handle)) return event;
  }
  if (thread_shared_chunk_ && handle.chunk_index == thread_shared_chunk_index_ &&
      handle.chunk_seq == thread_shared_chunk_->seq())
    return thread_shared_chunk_->GetEventAt(handle.event_index);
  return logged_events_->GetEventByHandle(handle);
}

void TraceLog::UpdateTraceEventDuration(const uint8_t* category_state, const char* name,
                                        TraceEventHandle handle) {
  const uint8_t state = *category_state;
  if (state == 0) return;
  ScopedTraceReentranceGuard guard;
  if (!guard.entered()) return;
  HeapProfilerScopedIgnore ignore;
  const int64_t thread_now = ThreadNow();
  const int64_t now = OffsetNow();

  if (state & ENABLED_FOR_ETW_EXPORT) TraceEventEtwExport::AddEtwCompleteEndEvent(name);

  std::string console_message;
  if ((state & ENABLED_FOR_RECORDING) && handle.chunk_seq != 0) {
    // The thread's own chunk needs no lock; anything else is found under it.
    TraceEvent* event = nullptr;
    ThreadLocalEventBuffer* local_buffer = ThreadLocalEventBuffer::Current();
    bool locked = false;
    if (local_buffer && local_buffer->generation() == generation_.load(std::memory_order_acquire))
      event = local_buffer->GetEventByHandle(handle);
    if (!event) {
      lock_.Acquire();
      locked = true;
      event = GetEventByHandleInternal(handle);
    }
    if (event) {
      event->UpdateDuration(now, thread_now);
      if (trace_options_.load(std::memory_order_relaxed) & kEchoToConsole)
        console_message = EventToConsoleMessage('E', now, event);
    }
    if (locked) lock_.Release();
  }
  if (!console_message.empty()) LOG(ERROR) << console_message;

  if (state & ENABLED_FOR_FILTERING) {
    uint32_t bits = CategoryOf(category_state)->enabled_filters.load(std::memory_order_acquire);
    const std::vector<std::unique_ptr<TraceEventFilter>>& filters = CategoryGroupFilters();
    const char* category_name = GetCategoryGroupName(category_state);
    for (size_t i = 0; i < filters.size() && i < kMaxEventFilters; ++i) {
      if ((bits & (1u << i)) && filters[i]) filters[i]->EndEvent(category_name, name);
    }
  }
}

std::string TraceLog::EventToConsoleMessage(char phase, int64_t timestamp, TraceEvent* event) {
  AutoLock lock(thread_info_lock_);
  const int thread_id = event ? event->thread_id() : CurrentThreadId();
  std::vector<int64_t>& start_times = thread_event_start_times_[thread_id];
  int64_t duration = 0;
  if (phase == 'E' && !start_times.empty()) {
    duration = timestamp - start_times.back();
    start_times.pop_back();
  }
  std::string thread_name;
  auto named = thread_names_.find(thread_id);
  if (named != thread_names_.end()) thread_name = named->second;
  auto colored = thread_colors_.find(thread_name);
  if (colored == thread_colors_.end()) {
    int color = static_cast<int>(thread_colors_.size() % 6) + 1;
    colored = thread_colors_.emplace(thread_name, color).first;
  }
  std::string message = StringPrintf("%s: \033[0;3%dm", thread_name.c_str(), colored->second);
  for (size_t i = 0; i < start_times.size(); ++i) message += "| ";
  if (event) event->AppendPrettyPrinted(&message);
  if (phase == 'E') message += StringPrintf(" (%.3f ms)", static_cast<double>(duration) / 1000.0);
  message += "\033[0;m";
  if (phase == 'B') start_times.push_back(timestamp);
  return message;
}

// ----------------------------------------------------------------- metadata

void TraceLog::AddMetadataEvent(const uint8_t* category_state, const char* name, int num_args,
                                const char* const* arg_names, const uint8_t* arg_types,
                                const uint64_t* arg_values,
                                std::unique_ptr<ConvertableToTraceFormat>* convertable_values,
                                unsigned int flags) {
  HeapProfilerScopedIgnore ignore;
  std::unique_ptr<TraceEvent> event(new TraceEvent);
  event->Initialize(CurrentThreadId(), OffsetNow(), ThreadNow(), 'M', category_state, name,
                    nullptr, 0, 0, num_args, arg_names, arg_types, arg_values,
                    convertable_values, flags);
  AutoLock lock(lock_);
  metadata_events_.push_back(std::move(event));
}

void TraceLog::AddMetadataEventWhileLocked(int thread_id, const char* name, const char* arg_name,
                                           uint8_t arg_type, uint64_t arg_value) {
  TraceEventHandle handle;
  TraceEvent* event = AddEventToSharedChunkWhileLocked(&handle, false);
  if (!event) return;
  event->Initialize(thread_id, 0, 0, 'M', StateOf(kCategoryMetadata), name, nullptr, 0, 0, 1,
                    &arg_name, &arg_type, &arg_value, nullptr, 0);
}

void TraceLog::AddMetadataEvents() {
  while (!metadata_events_.empty()) {
    TraceEventHandle handle;
    if (TraceEvent* event = AddEventToSharedChunkWhileLocked(&handle, false))
      event->MoveFrom(std::move(metadata_events_.back()));
    metadata_events_.pop_back();
  }
  auto text = [](const std::string& value) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(value.c_str()));
  };
  const int current = CurrentThreadId();
  SYSTEM_INFO system_info;
  GetSystemInfo(&system_info);
  AddMetadataEventWhileLocked(0, "num_cpus", "number", TRACE_VALUE_TYPE_INT,
                              system_info.dwNumberOfProcessors);
  if (process_sort_index_ != 0)
    AddMetadataEventWhileLocked(current, "process_sort_index", "sort_index",
                                TRACE_VALUE_TYPE_INT, static_cast<uint64_t>(process_sort_index_));
  if (!process_name_.empty())
    AddMetadataEventWhileLocked(current, "process_name", "name", TRACE_VALUE_TYPE_COPY_STRING,
                                text(process_name_));
  Time creation = ProcessCreationTime();
  if (!creation.is_max()) {
    int64_t uptime = (Time::Now() - creation).InMicroseconds() / 1000000;
    AddMetadataEventWhileLocked(current, "process_uptime_seconds", "uptime",
                                TRACE_VALUE_TYPE_INT, static_cast<uint64_t>(uptime));
  }
  if (!process_labels_.empty()) {
    std::string labels;
    for (const auto& label : process_labels_) {
      if (!labels.empty()) labels += ",";
      labels += label.second;
    }
    AddMetadataEventWhileLocked(current, "process_labels", "labels",
                                TRACE_VALUE_TYPE_COPY_STRING, text(labels));
  }
  for (const auto& sort_index : thread_sort_indices_) {
    if (sort_index.second != 0)
      AddMetadataEventWhileLocked(sort_index.first, "thread_sort_index", "sort_index",
                                  TRACE_VALUE_TYPE_INT,
                                  static_cast<uint64_t>(static_cast<int64_t>(sort_index.second)));
  }
  {
    AutoLock lock(thread_info_lock_);
    for (const auto& name : thread_names_) {
      if (!name.second.empty())
        AddMetadataEventWhileLocked(name.first, "thread_name", "name",
                                    TRACE_VALUE_TYPE_COPY_STRING, text(name.second));
    }
  }
  if (buffer_limit_reached_timestamp_ != 0)
    AddMetadataEventWhileLocked(current, "trace_buffer_overflowed", "overflowed_at_ts",
                                TRACE_VALUE_TYPE_INT,
                                static_cast<uint64_t>(buffer_limit_reached_timestamp_));
}

// ------------------------------------------------------------ enabled state

void TraceLog::SetDisabledWhileLocked(uint8_t modes) {
  if (!(modes & RECORDING_MODE)) return;
  if (!(enabled_modes_.load(std::memory_order_relaxed) & RECORDING_MODE) ||
      dispatching_to_observer_list_)
    return;
  HeapProfilerScopedIgnore ignore;
  enabled_modes_.fetch_and(static_cast<uint8_t>(~RECORDING_MODE), std::memory_order_acq_rel);
  trace_config_.Clear();
  UpdateCategoryRegistry();
  AddMetadataEvents();

  dispatching_to_observer_list_ = true;
  std::vector<EnabledStateObserver*> observers = enabled_state_observers_;
  std::map<AsyncEnabledStateObserver*, AsyncObserverRegistration> async_observers =
      async_observers_;
  // Observers may call back into the trace log.
  lock_.Release();
  for (EnabledStateObserver* observer : observers) observer->OnTraceLogDisabled();
  for (const auto& entry : async_observers) {
    const Location posted_from("SetDisabledWhileLocked", "base/trace_event/trace_log", 751,
                               nullptr);
    bool posted = entry.second.task_runner->PostTask(
        posted_from, Bind(&AsyncEnabledStateObserver::OnTraceLogDisabled,
                          entry.second.observer));
    (void)posted;  // a thread that has ended no longer wants to hear
  }
  lock_.Acquire();
  dispatching_to_observer_list_ = false;
}

void TraceLog::AddEnabledStateObserver(EnabledStateObserver* observer) {
  AutoLock lock(lock_);
  enabled_state_observers_.push_back(observer);
}

void TraceLog::RemoveEnabledStateObserver(EnabledStateObserver* observer) {
  AutoLock lock(lock_);
  auto found =
      std::find(enabled_state_observers_.begin(), enabled_state_observers_.end(), observer);
  if (found != enabled_state_observers_.end()) enabled_state_observers_.erase(found);
}

void TraceLog::AddAsyncEnabledStateObserver(WeakPtr<AsyncEnabledStateObserver> observer) {
  AutoLock lock(lock_);
  async_observers_[observer.get()] = {observer, CurrentThreadTaskRunner::Get()};
}

void TraceLog::RemoveAsyncEnabledStateObserver(AsyncEnabledStateObserver* observer) {
  AutoLock lock(lock_);
  async_observers_.erase(observer);
}

void TraceLog::SetProcessName(const std::string& name) {
  AutoLock lock(lock_);
  process_name_ = name;
}

void TraceLog::SetProcessSortIndex(int sort_index) {
  AutoLock lock(lock_);
  process_sort_index_ = sort_index;
}

void TraceLog::UpdateProcessLabel(int label_id, const std::string& label) {
  AutoLock lock(lock_);
  if (label.empty())
    process_labels_.erase(label_id);
  else
    process_labels_[label_id] = label;
}

void TraceLog::SetThreadSortIndex(int thread_id, int sort_index) {
  AutoLock lock(lock_);
  thread_sort_indices_[thread_id] = sort_index;
}

// static
void TraceLog::SetCurrentThreadBlocksMessageLoop() {
  t_blocks_message_loop = true;
  delete ThreadLocalEventBuffer::Current();
}

bool TraceLog::OnMemoryDump(const MemoryDumpArgs&, ProcessMemoryDump* pmd) {
  HeapProfilerScopedIgnore ignore;
  TraceEventMemoryOverhead overhead;
  overhead.Add(kTraceLogName, 1, sizeof(*this), sizeof(*this));
  {
    AutoLock lock(lock_);
    logged_events_->EstimateTraceMemoryOverhead(&overhead);
    for (const auto& event : metadata_events_) event->EstimateTraceMemoryOverhead(&overhead);
  }
  overhead.AddSelf();
  overhead.DumpInto("tracing/main_trace_log", pmd);
  return true;
}

// -------------------------------------------------------------- test hooks

TraceConfig TraceLog::GetCurrentTraceConfig() {
  AutoLock lock(lock_);
  return trace_config_;
}

void TraceLog::SetEnabledForTesting(const TraceConfig& config, uint8_t modes, unsigned options,
                                    size_t max_chunks) {
  AutoLock lock(lock_);
  trace_options_.store(options, std::memory_order_relaxed);
  logged_events_ = CreateTraceBuffer(options, max_chunks);
  thread_shared_chunk_.reset();
  thread_shared_chunk_index_ = 0;
  generation_.fetch_add(1, std::memory_order_acq_rel);
  buffer_limit_reached_timestamp_ = 0;
  ++num_traces_recorded_;
  trace_config_ = config;
  enabled_event_filters_.clear();
  CategoryGroupFilters().clear();
  if (modes & FILTERING_MODE) enabled_event_filters_ = config.event_filters;
  enabled_modes_.store(modes, std::memory_order_release);
  UpdateCategoryRegistry();
}

void TraceLog::SetDisabledForTesting() {
  AutoLock lock(lock_);
  SetDisabledWhileLocked(RECORDING_MODE);
}

void TraceLog::ResetForTesting() {
  AutoLock lock(lock_);
  enabled_modes_.store(0, std::memory_order_release);
  trace_options_.store(kRecordUntilFull, std::memory_order_relaxed);
  trace_config_.Clear();
  enabled_event_filters_.clear();
  CategoryGroupFilters().clear();
  logged_events_ = CreateTraceBuffer(kRecordUntilFull, 0);
  thread_shared_chunk_.reset();
  thread_shared_chunk_index_ = 0;
  generation_.fetch_add(1, std::memory_order_acq_rel);
  metadata_events_.clear();
  buffer_limit_reached_timestamp_ = 0;
  process_name_.clear();
  process_labels_.clear();
  process_sort_index_ = 0;
  thread_sort_indices_.clear();
  argument_filter_predicate_ = nullptr;
  filter_factory_for_testing_ = nullptr;
  {
    AutoLock info_lock(thread_info_lock_);
    thread_names_.clear();
    thread_event_start_times_.clear();
    thread_colors_.clear();
  }
  t_current_thread_name = nullptr;
  UpdateCategoryRegistry();
}

void TraceLog::SetFilterFactoryForTesting(FilterFactory factory) {
  AutoLock lock(lock_);
  filter_factory_for_testing_ = std::move(factory);
}

void TraceLog::SetArgumentFilterPredicate(ArgumentFilterPredicate predicate) {
  AutoLock lock(lock_);
  argument_filter_predicate_ = std::move(predicate);
}

std::string TraceLog::RecordedEventsAsJsonForTesting() {
  std::string json;
  auto append_chunk = [&](const TraceBufferChunk* chunk) {
    for (size_t i = 0; i < chunk->size(); ++i) {
      if (!json.empty()) json += ",";
      AppendEventAsJson(*chunk->GetEventAt(i), &json, argument_filter_predicate_);
    }
  };
  AutoLock lock(lock_);
  while (const TraceBufferChunk* chunk = logged_events_->NextChunk()) append_chunk(chunk);
  if (thread_shared_chunk_) append_chunk(thread_shared_chunk_.get());
  ThreadLocalEventBuffer* local_buffer = ThreadLocalEventBuffer::Current();
  if (local_buffer && local_buffer->chunk() &&
      local_buffer->generation() == generation_.load(std::memory_order_acquire))
    append_chunk(local_buffer->chunk());
  return json;
}

TraceEvent* TraceLog::GetEventByHandleForTesting(TraceEventHandle handle) {
  AutoLock lock(lock_);
  return GetEventByHandleInternal(handle);
}

const std::string& TraceLog::thread_name_for_testing(int thread_id) {
  AutoLock lock(thread_info_lock_);
  return thread_names_[thread_id];
}

}  // namespace trace_event
}  // namespace base
