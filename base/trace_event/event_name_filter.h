// Passes the events whose names are in its whitelist.
#ifndef BASE_TRACE_EVENT_EVENT_NAME_FILTER_H_
#define BASE_TRACE_EVENT_EVENT_NAME_FILTER_H_

#include <memory>
#include <string>
#include <unordered_set>

#include "base/trace_event/trace_event_filter.h"

namespace base {
namespace trace_event {

class EventNameFilter : public TraceEventFilter {
 public:
  using EventNamesWhitelist = std::unordered_set<std::string>;
  static const char kName[];  // "event_whitelist_predicate"

  explicit EventNameFilter(std::unique_ptr<EventNamesWhitelist> whitelist);
  ~EventNameFilter() override;

  bool FilterTraceEvent(const TraceEvent& event) const override;

 private:
  std::unique_ptr<EventNamesWhitelist> whitelist_;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_EVENT_NAME_FILTER_H_
