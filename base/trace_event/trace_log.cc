#include "base/trace_event/trace_log.h"

#include <windows.h>

#include <cstring>

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

const uint8_t* StateOf(size_t index) {
  // The state byte's address is handed out; the atomic has the byte's layout.
  static_assert(sizeof(std::atomic<uint8_t>) == 1, "state byte is one byte");
  return reinterpret_cast<const uint8_t*>(&g_categories[index].state);
}

const uint8_t* FindCategory(const char* name, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (std::strcmp(g_categories[i].name.load(std::memory_order_acquire), name) == 0)
      return StateOf(i);
  }
  return nullptr;
}

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

TraceLog* TraceLog::GetInstance() {
  uintptr_t value = g_instance.load(std::memory_order_acquire);
  if (value > 1) return reinterpret_cast<TraceLog*>(value);
  uintptr_t expected = 0;
  if (g_instance.compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) {
    TraceLog* created = new TraceLog;
    g_instance.store(reinterpret_cast<uintptr_t>(created), std::memory_order_release);
    return created;
  }
  while ((value = g_instance.load(std::memory_order_acquire)) <= 1) Sleep(0);
  return reinterpret_cast<TraceLog*>(value);
}

TraceLog::TraceLog()
    : process_id_(static_cast<int32_t>(GetCurrentProcessId())),
      process_id_hash_((14695981039346656037ull ^ static_cast<uint64_t>(process_id_)) *
                       1099511628211ull) {}

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
  TraceCategory& entry = g_categories[count];
  size_t length = std::strlen(category_group);
  char* copy = new char[length + 1];
  std::memcpy(copy, category_group, length + 1);
  entry.name.store(copy, std::memory_order_release);
  // Recording is off, no event-tracing consumer and no filter: the state stays 0.
  entry.enabled_filters.store(0, std::memory_order_relaxed);
  entry.state.store((log->enabled_modes_ & 1) && std::strcmp(copy, "__metadata") == 0
                        ? ENABLED_FOR_RECORDING
                        : 0,
                    std::memory_order_release);
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

TraceEventHandle TraceLog::AddEvent(char, const uint8_t* category_state, const char*,
                                    const char*, uint64_t id, uint64_t bind_id, int, TimeTicks,
                                    int, const char* const*, const uint8_t*, const uint64_t*,
                                    std::unique_ptr<ConvertableToTraceFormat>*,
                                    unsigned int flags) {
  TraceEventHandle handle;
  ScopedTraceReentranceGuard guard;
  if (!guard.entered()) return handle;
  if (flags & kFlagMangleId) {
    id ^= process_id_hash_;
    if (flags & (kFlagFlowIn | kFlagFlowOut)) bind_id ^= process_id_hash_;
  }
  (void)id;
  (void)bind_id;
  // No event buffer, exporter or filter exists while every category is disabled, so
  // there is nowhere to put the event: the empty handle says so.
  (void)category_state;
  return handle;
}

void TraceLog::UpdateTraceEventDuration(const uint8_t* category_state, const char*,
                                        TraceEventHandle handle) {
  if (*category_state == 0) return;
  ScopedTraceReentranceGuard guard;
  if (!guard.entered() || handle.chunk_seq == 0) return;
  // An event with a non-empty handle can only come from a recording buffer, and none
  // exists while recording is off.
}

}  // namespace trace_event
}  // namespace base
