#include "base/trace_event/event_name_filter.h"

#include <utility>

#include "base/trace_event/trace_event.h"

namespace base {
namespace trace_event {

const char EventNameFilter::kName[] = "event_whitelist_predicate";

EventNameFilter::EventNameFilter(std::unique_ptr<EventNamesWhitelist> whitelist)
    : whitelist_(std::move(whitelist)) {}

EventNameFilter::~EventNameFilter() = default;

bool EventNameFilter::FilterTraceEvent(const TraceEvent& event) const {
  return event.name() && whitelist_->count(event.name()) != 0;
}

}  // namespace trace_event
}  // namespace base
