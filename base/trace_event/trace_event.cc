#include "base/trace_event/trace_event.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "base/json/string_escape.h"
#include "base/strings/double_conversion.h"
#include "base/trace_event/trace_event_memory_overhead.h"
#include "base/trace_event/trace_log.h"

namespace base {
namespace trace_event {

namespace {

template <typename... Args>
void AppendF(std::string* out, const char* format, Args... args) {
  char buffer[128];
  int length = std::snprintf(buffer, sizeof(buffer), format, args...);
  if (length > 0)
    out->append(buffer, static_cast<size_t>(length) < sizeof(buffer)
                            ? static_cast<size_t>(length)
                            : sizeof(buffer) - 1);
}

size_t CopyLength(const char* text) { return text ? std::strlen(text) + 1 : 0; }

// Copies |*text| to |*cursor| and points |*text| at the copy.
void CopyInto(char** cursor, const char** text) {
  if (!*text) return;
  size_t size = std::strlen(*text) + 1;
  std::memcpy(*cursor, *text, size);
  *text = *cursor;
  *cursor += size;
}

// Every text of an event goes out escaped; invalid UTF-8 becomes U+FFFD, so the JSON
// stays well-formed whatever the caller passed.
void AppendJsonString(const char* text, std::string* out) {
  static_cast<void>(EscapeJsonStringUtf8(text, out));
}

bool IsKnownValueType(uint8_t type) {
  return type >= TRACE_VALUE_TYPE_BOOL && type <= TRACE_VALUE_TYPE_COPY_STRING;
}

}  // namespace

TraceEvent::TraceEvent() {
  for (TraceValue& value : arg_values_) value.as_uint = 0;
}

TraceEvent::~TraceEvent() = default;

int TraceEvent::ArgCount() const {
  int count = 0;
  while (count < kMaxArgs && arg_names_[count]) ++count;
  return count;
}

void TraceEvent::Initialize(int thread_id, int64_t timestamp, int64_t thread_timestamp,
                            char phase, const uint8_t* category_state, const char* name,
                            const char* scope, uint64_t id, uint64_t bind_id, int num_args,
                            const char* const* arg_names, const uint8_t* arg_types,
                            const uint64_t* arg_values,
                            std::unique_ptr<ConvertableToTraceFormat>* arg_convertables,
                            unsigned flags) {
  timestamp_ = timestamp;
  thread_timestamp_ = thread_timestamp;
  duration_ = -1;
  thread_duration_ = -1;
  scope_ = scope;
  id_ = id;
  category_state_ = category_state;
  name_ = name;
  thread_id_ = thread_id;
  phase_ = phase;
  flags_ = flags;
  bind_id_ = bind_id;

  int used = num_args < kMaxArgs ? (num_args > 0 ? num_args : 0) : kMaxArgs;
  for (int i = 0; i < kMaxArgs; ++i) {
    if (i < used) {
      arg_names_[i] = arg_names[i];
      arg_types_[i] = arg_types[i];
      if (arg_types_[i] == TRACE_VALUE_TYPE_CONVERTABLE) {
        arg_values_[i].as_uint = 0;
        convertables_[i] = arg_convertables ? std::move(arg_convertables[i]) : nullptr;
      } else {
        arg_values_[i].as_uint = arg_values[i];
        convertables_[i].reset();
      }
    } else {
      arg_names_[i] = nullptr;
      arg_values_[i].as_uint = 0;
      convertables_[i].reset();
      arg_types_[i] = TRACE_VALUE_TYPE_UINT;
    }
  }
  CopyStrings((flags & TRACE_EVENT_FLAG_COPY) != 0);
}

void TraceEvent::CopyStrings(bool copy_all) {
  int count = ArgCount();
  size_t size = 0;
  if (copy_all) {
    size += CopyLength(name_) + CopyLength(scope_);
    for (int i = 0; i < count; ++i) {
      size += CopyLength(arg_names_[i]);
      if (arg_types_[i] == TRACE_VALUE_TYPE_STRING) arg_types_[i] = TRACE_VALUE_TYPE_COPY_STRING;
    }
  }
  for (int i = 0; i < count; ++i) {
    if (arg_types_[i] == TRACE_VALUE_TYPE_COPY_STRING)
      size += CopyLength(arg_values_[i].as_string);
  }
  if (size == 0) {
    parameter_copy_storage_.reset();
    return;
  }
  parameter_copy_storage_.reset(new std::string(size, '\0'));
  char* cursor = &(*parameter_copy_storage_)[0];
  if (copy_all) {
    CopyInto(&cursor, &name_);
    CopyInto(&cursor, &scope_);
    for (int i = 0; i < count; ++i) CopyInto(&cursor, &arg_names_[i]);
  }
  for (int i = 0; i < count; ++i) {
    if (arg_types_[i] == TRACE_VALUE_TYPE_COPY_STRING) CopyInto(&cursor, &arg_values_[i].as_string);
  }
}

void TraceEvent::Reset() {
  // A recycled slot must not carry the thread time of an event ended before.
  duration_ = -1;
  thread_duration_ = -1;
  parameter_copy_storage_.reset();
  for (auto& convertable : convertables_) convertable.reset();
}

void TraceEvent::MoveFrom(std::unique_ptr<TraceEvent> other) {
  timestamp_ = other->timestamp_;
  thread_timestamp_ = other->thread_timestamp_;
  duration_ = other->duration_;
  thread_duration_ = other->thread_duration_;
  scope_ = other->scope_;
  id_ = other->id_;
  category_state_ = other->category_state_;
  name_ = other->name_;
  thread_id_ = other->thread_id_;
  phase_ = other->phase_;
  flags_ = other->flags_;
  bind_id_ = other->bind_id_;
  // The texts may point into the storage; moving the string keeps its buffer.
  parameter_copy_storage_ = std::move(other->parameter_copy_storage_);
  for (int i = 0; i < kMaxArgs; ++i) {
    arg_names_[i] = other->arg_names_[i];
    arg_types_[i] = other->arg_types_[i];
    arg_values_[i] = other->arg_values_[i];
    convertables_[i] = std::move(other->convertables_[i]);
  }
}

void TraceEvent::UpdateDuration(int64_t now, int64_t thread_now) {
  duration_ = now - timestamp_;
  if (thread_timestamp_ != 0) thread_duration_ = thread_now - thread_timestamp_;
}

void TraceEvent::EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) {
  overhead->Add(kTraceEventName, 1, sizeof(*this), sizeof(*this));
  if (parameter_copy_storage_) {
    // What the heap spends on the string: its capacity in 16-byte steps, at least 32,
    // plus the allocation's bookkeeping.
    size_t capacity = parameter_copy_storage_->capacity();
    size_t rounded = (capacity + 15) / 16 * 16;
    if (rounded < 32) rounded = 32;
    overhead->Add(kNarrowStringName, 1, rounded + 32, rounded + 32);
  }
  for (auto& convertable : convertables_) {
    if (convertable) convertable->EstimateTraceMemoryOverhead(overhead);
  }
}

void TraceEvent::AppendArgAsJson(int index, std::string* out) const {
  if (arg_types_[index] == TRACE_VALUE_TYPE_CONVERTABLE && convertables_[index]) {
    convertables_[index]->AppendAsTraceFormat(out);
  } else if (IsKnownValueType(arg_types_[index])) {
    AppendArgValueAsJson(arg_types_[index], arg_values_[index], out);
  } else {
    // A convertable that was never given, or a type this writer does not know: the
    // member still needs a value.
    out->append("null");
  }
}

const char* TraceEvent::category_group_name() const {
  return category_state_ ? TraceLog::GetCategoryGroupName(category_state_) : "";
}

void AppendArgValueAsJson(uint8_t type, TraceValue value, std::string* out) {
  switch (type) {
    case TRACE_VALUE_TYPE_BOOL:
      out->append(value.as_bool ? "true" : "false");
      break;
    case TRACE_VALUE_TYPE_UINT:
      AppendF(out, "%" PRIu64, value.as_uint);
      break;
    case TRACE_VALUE_TYPE_INT:
      AppendF(out, "%" PRId64, value.as_int);
      break;
    case TRACE_VALUE_TYPE_DOUBLE: {
      double number = value.as_double;
      if (std::isnan(number)) {
        out->append("\"NaN\"");
      } else if (std::isinf(number)) {
        out->append(number > 0 ? "\"Infinity\"" : "\"-Infinity\"");
      } else {
        char buffer[kShortestDoubleBufferSize];
        FormatDoubleShortest(buffer, number);
        std::string text = buffer;
        // JSON wants a digit before the point and a point or exponent in a double.
        if (text.find_first_of(".eE") == std::string::npos) text += ".0";
        if (text[0] == '.')
          text.insert(0, "0");
        else if (text.compare(0, 2, "-.") == 0)
          text.insert(1, "0");
        out->append(text);
      }
      break;
    }
    case TRACE_VALUE_TYPE_POINTER:
      AppendF(out, "\"0x%" PRIx64 "\"",
              static_cast<uint64_t>(reinterpret_cast<uintptr_t>(value.as_pointer)));
      break;
    case TRACE_VALUE_TYPE_STRING:
    case TRACE_VALUE_TYPE_COPY_STRING: {
      // An invalid sequence is written as U+FFFD; the text stays well-formed.
      bool valid = EscapeJsonStringUtf8(value.as_string ? value.as_string : "NULL", out);
      (void)valid;
      break;
    }
    default:
      break;
  }
}

void AppendEventAsJson(const TraceEvent& event, std::string* out,
                       const ArgumentFilterPredicate& predicate) {
  int pid;
  int tid;
  if ((event.flags_ & TRACE_EVENT_FLAG_HAS_PROCESS_ID) && event.thread_id_ != 0) {
    pid = event.thread_id_;
    tid = -1;
  } else {
    pid = TraceLog::GetInstance()->process_id();
    tid = event.thread_id_;
  }
  const char* category_name = event.category_group_name();
  AppendF(out, "{\"pid\":%i,\"tid\":%i,\"ts\":%" PRId64 ",\"ph\":\"%c\",\"cat\":", pid, tid,
          event.timestamp_, event.phase_);
  AppendJsonString(category_name, out);
  out->append(",\"name\":");
  AppendJsonString(event.name_ ? event.name_ : "", out);
  out->append(",\"args\":");

  ArgumentNameFilterPredicate name_filter;
  bool strip_all = event.arg_names_[0] && predicate &&
                   !predicate(category_name, event.name_ ? event.name_ : "", &name_filter);
  if (strip_all) {
    out->append("\"__stripped__\"");
  } else {
    out->append("{");
    for (int i = 0; i < TraceEvent::kMaxArgs && event.arg_names_[i]; ++i) {
      if (i > 0) out->append(",");
      AppendJsonString(event.arg_names_[i], out);
      out->append(":");
      if (name_filter && !name_filter(event.arg_names_[i]))
        out->append("\"__stripped__\"");
      else
        event.AppendArgAsJson(i, out);
    }
    out->append("}");
  }

  if (event.phase_ == 'X') {
    if (event.duration_ != -1) AppendF(out, ",\"dur\":%" PRId64, event.duration_);
    if (event.thread_timestamp_ != 0 && event.thread_duration_ != -1)
      AppendF(out, ",\"tdur\":%" PRId64, event.thread_duration_);
  }
  if (event.thread_timestamp_ != 0) AppendF(out, ",\"tts\":%" PRId64, event.thread_timestamp_);
  if (event.flags_ & TRACE_EVENT_FLAG_ASYNC_TTS) out->append(", \"use_async_tts\":1");

  const unsigned id_flags =
      event.flags_ & (TRACE_EVENT_FLAG_HAS_ID | TRACE_EVENT_FLAG_HAS_LOCAL_ID |
                      TRACE_EVENT_FLAG_HAS_GLOBAL_ID);
  if (id_flags && event.scope_) {
    out->append(",\"scope\":");
    AppendJsonString(event.scope_, out);
  }
  if (id_flags == TRACE_EVENT_FLAG_HAS_ID)
    AppendF(out, ",\"id\":\"0x%" PRIx64 "\"", event.id_);
  else if (id_flags == TRACE_EVENT_FLAG_HAS_LOCAL_ID)
    AppendF(out, ",\"id2\":{\"local\":\"0x%" PRIx64 "\"}", event.id_);
  else if (id_flags == TRACE_EVENT_FLAG_HAS_GLOBAL_ID)
    AppendF(out, ",\"id2\":{\"global\":\"0x%" PRIx64 "\"}", event.id_);

  if (event.flags_ & TRACE_EVENT_FLAG_BIND_TO_ENCLOSING) out->append(",\"bp\":\"e\"");
  if (event.flags_ & (TRACE_EVENT_FLAG_FLOW_IN | TRACE_EVENT_FLAG_FLOW_OUT))
    AppendF(out, ",\"bind_id\":\"0x%" PRIx64 "\"", event.bind_id_);
  if (event.flags_ & TRACE_EVENT_FLAG_FLOW_IN) out->append(",\"flow_in\":true");
  if (event.flags_ & TRACE_EVENT_FLAG_FLOW_OUT) out->append(",\"flow_out\":true");

  if (event.phase_ == 'I') {
    char scope_letter = '?';
    switch (event.flags_ & TRACE_EVENT_FLAG_SCOPE_MASK) {
      case 0: scope_letter = 'g'; break;
      case TRACE_EVENT_FLAG_SCOPE_PROCESS: scope_letter = 'p'; break;
      case TRACE_EVENT_FLAG_SCOPE_THREAD: scope_letter = 't'; break;
    }
    AppendF(out, ",\"s\":\"%c\"", scope_letter);
  }
  out->append("}");
}

void TraceEvent::AppendPrettyPrinted(std::string* out) const {
  out->append(name_ ? name_ : "");
  out->append("[");
  out->append(category_group_name());
  out->append("]");
  if (!arg_names_[0]) return;
  out->append(", {");
  for (int i = 0; i < kMaxArgs && arg_names_[i]; ++i) {
    if (i > 0) out->append(", ");
    out->append(arg_names_[i]);
    out->append(":");
    AppendArgAsJson(i, out);
  }
  out->append("}");
}

}  // namespace trace_event
}  // namespace base
