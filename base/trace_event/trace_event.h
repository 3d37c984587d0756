// One recorded trace event: a reusable slot of a trace buffer chunk, with its JSON and
// console forms.
//
//   TraceEvent event;
//   event.Initialize(thread_id, now, thread_now, 'X', category, "Load", nullptr, 0, 0,
//                    1, names, types, values, nullptr, TRACE_EVENT_FLAG_NONE);
//   ...
//   event.UpdateDuration(later, thread_later);
//   AppendEventAsJson(event, &json, ArgumentFilterPredicate());
#ifndef BASE_TRACE_EVENT_TRACE_EVENT_H_
#define BASE_TRACE_EVENT_TRACE_EVENT_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/trace_event/convertable_to_trace_format.h"

namespace base {
namespace trace_event {

class TraceEventMemoryOverhead;

// Event flags.
constexpr unsigned TRACE_EVENT_FLAG_NONE = 0;
constexpr unsigned TRACE_EVENT_FLAG_COPY = 1;
constexpr unsigned TRACE_EVENT_FLAG_HAS_ID = 2;
constexpr unsigned TRACE_EVENT_FLAG_MANGLE_ID = 4;
constexpr unsigned TRACE_EVENT_FLAG_SCOPE_PROCESS = 8;
constexpr unsigned TRACE_EVENT_FLAG_SCOPE_THREAD = 16;
constexpr unsigned TRACE_EVENT_FLAG_SCOPE_MASK = 24;
constexpr unsigned TRACE_EVENT_FLAG_ASYNC_TTS = 64;
constexpr unsigned TRACE_EVENT_FLAG_BIND_TO_ENCLOSING = 128;
constexpr unsigned TRACE_EVENT_FLAG_FLOW_IN = 256;
constexpr unsigned TRACE_EVENT_FLAG_FLOW_OUT = 512;
constexpr unsigned TRACE_EVENT_FLAG_HAS_PROCESS_ID = 2048;
constexpr unsigned TRACE_EVENT_FLAG_HAS_LOCAL_ID = 4096;
constexpr unsigned TRACE_EVENT_FLAG_HAS_GLOBAL_ID = 8192;

// Argument types.
constexpr uint8_t TRACE_VALUE_TYPE_BOOL = 1;
constexpr uint8_t TRACE_VALUE_TYPE_UINT = 2;
constexpr uint8_t TRACE_VALUE_TYPE_INT = 3;
constexpr uint8_t TRACE_VALUE_TYPE_DOUBLE = 4;
constexpr uint8_t TRACE_VALUE_TYPE_POINTER = 5;
constexpr uint8_t TRACE_VALUE_TYPE_STRING = 6;
constexpr uint8_t TRACE_VALUE_TYPE_COPY_STRING = 7;
constexpr uint8_t TRACE_VALUE_TYPE_CONVERTABLE = 8;

// Identifies a recorded event for ending it; a zero sequence number means "no event".
struct TraceEventHandle {
  uint32_t chunk_seq = 0;
  uint32_t chunk_index : 26;
  uint32_t event_index : 6;
  TraceEventHandle() : chunk_index(0), event_index(0) {}
};

union TraceValue {
  bool as_bool;
  uint64_t as_uint;
  int64_t as_int;
  double as_double;
  const void* as_pointer;
  const char* as_string;
};

// Whether an argument of the given name may be written.
using ArgumentNameFilterPredicate = std::function<bool(const char* arg_name)>;
// Whether the arguments of an event (category group name, event name) may be written;
// it may also supply a filter for single argument names.
using ArgumentFilterPredicate = std::function<bool(
    const char* category_group_name, const char* event_name,
    ArgumentNameFilterPredicate* arg_name_filter)>;

class TraceEvent {
 public:
  static constexpr int kMaxArgs = 2;

  TraceEvent();
  ~TraceEvent();
  TraceEvent(const TraceEvent&) = delete;
  TraceEvent& operator=(const TraceEvent&) = delete;

  // Arguments past the second are ignored. Convertables (type 8) are moved out of
  // |arg_convertables|; texts are copied for the copy flag (name, scope, argument
  // names, and every text argument) and for type-7 arguments.
  void Initialize(int thread_id, int64_t timestamp, int64_t thread_timestamp, char phase,
                  const uint8_t* category_state, const char* name, const char* scope,
                  uint64_t id, uint64_t bind_id, int num_args, const char* const* arg_names,
                  const uint8_t* arg_types, const uint64_t* arg_values,
                  std::unique_ptr<ConvertableToTraceFormat>* arg_convertables,
                  unsigned flags);
  // Readies a recycled slot: no duration, no copies, no convertables.
  void Reset();
  // Takes over every field of |other| except the thread duration.
  void MoveFrom(std::unique_ptr<TraceEvent> other);
  void UpdateDuration(int64_t now, int64_t thread_now);

  void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead);

  // "name[category], {arg:value, ...}" for the console.
  void AppendPrettyPrinted(std::string* out) const;

  int64_t timestamp() const { return timestamp_; }
  int64_t thread_timestamp() const { return thread_timestamp_; }
  int64_t duration() const { return duration_; }
  int64_t thread_duration() const { return thread_duration_; }
  const char* scope() const { return scope_; }
  uint64_t id() const { return id_; }
  uint64_t bind_id() const { return bind_id_; }
  unsigned flags() const { return flags_; }
  char phase() const { return phase_; }
  int thread_id() const { return thread_id_; }
  const char* name() const { return name_; }
  const char* arg_name(int index) const { return arg_names_[index]; }
  uint8_t arg_type(int index) const { return arg_types_[index]; }
  TraceValue arg_value(int index) const { return arg_values_[index]; }
  const uint8_t* category_group_enabled() const { return category_state_; }
  // The category group name through the trace log's table.
  const char* category_group_name() const;

 private:
  friend void AppendEventAsJson(const TraceEvent& event, std::string* out,
                                const ArgumentFilterPredicate& predicate);

  void CopyStrings(bool copy_all);
  int ArgCount() const;
  // Argument |index|'s value: a convertable's own JSON, the value, or null when there
  // is nothing a reader could parse.
  void AppendArgAsJson(int index, std::string* out) const;

  int64_t timestamp_ = 0;
  int64_t thread_timestamp_ = 0;
  int64_t duration_ = -1;
  int64_t thread_duration_ = 0;
  const char* scope_ = nullptr;
  uint64_t id_ = 0;
  TraceValue arg_values_[kMaxArgs];
  const char* arg_names_[kMaxArgs] = {};
  std::unique_ptr<ConvertableToTraceFormat> convertables_[kMaxArgs];
  const uint8_t* category_state_ = nullptr;
  const char* name_ = nullptr;
  std::unique_ptr<std::string> parameter_copy_storage_;
  // The process id instead when the has-process-id flag is set.
  int thread_id_ = 0;
  unsigned flags_ = 0;
  uint64_t bind_id_ = 0;
  uint8_t arg_types_[kMaxArgs] = {};
  char phase_ = 'B';
};

// Appends |event| as one JSON object. |predicate| may be empty.
void AppendEventAsJson(const TraceEvent& event, std::string* out,
                       const ArgumentFilterPredicate& predicate);

// Appends one argument value as JSON (nothing for a convertable or an unknown type).
void AppendArgValueAsJson(uint8_t type, TraceValue value, std::string* out);

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_EVENT_H_
