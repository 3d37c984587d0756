// Complete ('X') trace events of the task runtime: begun only while their category is
// enabled, ended when the scope closes.
//
//   static const uint8_t* category = TraceLog::GetCategoryGroupEnabled("toplevel");
//   ScopedTraceEvent event(category, "MessageLoop::RunTask", 0, 0, {{"src_file", ...}});
#ifndef BASE_MESSAGE_LOOP_SCOPED_TRACE_EVENT_H_
#define BASE_MESSAGE_LOOP_SCOPED_TRACE_EVENT_H_

#include <stdint.h>

#include <initializer_list>

#include "base/trace_event/trace_log.h"

namespace base {
namespace internal {

struct TraceArg {
  // The trace log's argument type codes.
  enum Type : uint8_t { kUint = 2, kInt = 3, kString = 6 };

  static TraceArg String(const char* name, const char* value);
  static TraceArg Uint(const char* name, uint64_t value);
  static TraceArg Int(const char* name, int64_t value);

  const char* name;
  uint8_t type;
  uint64_t value;
};

class ScopedTraceEvent {
 public:
  ScopedTraceEvent(const uint8_t* category, const char* name, uint64_t id, unsigned flags,
                   std::initializer_list<TraceArg> args);
  ~ScopedTraceEvent();
  ScopedTraceEvent(const ScopedTraceEvent&) = delete;
  ScopedTraceEvent& operator=(const ScopedTraceEvent&) = delete;

  // Adds a complete event that is never ended (a flow step), when |category| is enabled.
  static void AddInstant(const uint8_t* category, const char* name, uint64_t id,
                         unsigned flags);

 private:
  const uint8_t* category_;
  const char* name_;
  bool begun_ = false;
  trace_event::TraceEventHandle handle_;
};

}  // namespace internal
}  // namespace base

#endif  // BASE_MESSAGE_LOOP_SCOPED_TRACE_EVENT_H_
