// Mirrors open trace spans into the calling thread's heap-profiler pseudo stack while
// the capture mode is the pseudo stack. Passes every event.
#ifndef BASE_TRACE_EVENT_HEAP_PROFILER_EVENT_FILTER_H_
#define BASE_TRACE_EVENT_HEAP_PROFILER_EVENT_FILTER_H_

#include "base/trace_event/trace_event_filter.h"

namespace base {
namespace trace_event {

class HeapProfilerEventFilter : public TraceEventFilter {
 public:
  static const char kName[];  // "heap_profiler_predicate"

  HeapProfilerEventFilter();
  ~HeapProfilerEventFilter() override;

  bool FilterTraceEvent(const TraceEvent& event) const override;
  void EndEvent(const char* category_name, const char* event_name) const override;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_HEAP_PROFILER_EVENT_FILTER_H_
