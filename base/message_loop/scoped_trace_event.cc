#include "base/message_loop/scoped_trace_event.h"

#include <windows.h>

namespace base {
namespace internal {

namespace {

const size_t kMaxArgs = 2;

bool IsEnabled(const uint8_t* category) {
  return (*category & trace_event::TraceLog::kEnabledMask) != 0;
}

trace_event::TraceEventHandle AddCompleteEvent(const uint8_t* category, const char* name,
                                               uint64_t id, unsigned flags,
                                               std::initializer_list<TraceArg> args) {
  const char* names[kMaxArgs] = {};
  uint8_t types[kMaxArgs] = {};
  uint64_t values[kMaxArgs] = {};
  int count = 0;
  for (const TraceArg& arg : args) {
    if (count == static_cast<int>(kMaxArgs))
      break;
    names[count] = arg.name;
    types[count] = arg.type;
    values[count] = arg.value;
    ++count;
  }
  // Flow events bind by their own id.
  return trace_event::TraceLog::GetInstance()->AddEvent(
      'X', category, name, nullptr, id, id, static_cast<int>(GetCurrentThreadId()),
      TimeTicks::Now(), count, names, types, values, nullptr, flags);
}

}  // namespace

TraceArg TraceArg::String(const char* name, const char* value) {
  return TraceArg{name, kString, reinterpret_cast<uint64_t>(value)};
}

TraceArg TraceArg::Uint(const char* name, uint64_t value) {
  return TraceArg{name, kUint, value};
}

TraceArg TraceArg::Int(const char* name, int64_t value) {
  return TraceArg{name, kInt, static_cast<uint64_t>(value)};
}

ScopedTraceEvent::ScopedTraceEvent(const uint8_t* category, const char* name, uint64_t id,
                                   unsigned flags, std::initializer_list<TraceArg> args)
    : category_(category), name_(name) {
  if (!IsEnabled(category))
    return;
  begun_ = true;
  handle_ = AddCompleteEvent(category, name, id, flags, args);
}

ScopedTraceEvent::~ScopedTraceEvent() {
  if (begun_ && *category_ != 0)
    trace_event::TraceLog::GetInstance()->UpdateTraceEventDuration(category_, name_, handle_);
}

// static
void ScopedTraceEvent::AddInstant(const uint8_t* category, const char* name, uint64_t id,
                                  unsigned flags) {
  if (IsEnabled(category))
    AddCompleteEvent(category, name, id, flags, {});
}

}  // namespace internal
}  // namespace base
