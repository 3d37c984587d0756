// Sees the events of the categories configured for it before they are recorded; an
// event is recorded when at least one of its category's filters passes it.
#ifndef BASE_TRACE_EVENT_TRACE_EVENT_FILTER_H_
#define BASE_TRACE_EVENT_TRACE_EVENT_FILTER_H_

namespace base {
namespace trace_event {

class TraceEvent;

class TraceEventFilter {
 public:
  TraceEventFilter() = default;
  virtual ~TraceEventFilter() = default;
  TraceEventFilter(const TraceEventFilter&) = delete;
  TraceEventFilter& operator=(const TraceEventFilter&) = delete;

  virtual bool FilterTraceEvent(const TraceEvent& event) const = 0;
  // A complete event of a filtered category has ended.
  virtual void EndEvent(const char* category_name, const char* event_name) const;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_EVENT_FILTER_H_
