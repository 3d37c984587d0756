#include "base/trace_event/trace_event_filter.h"

namespace base {
namespace trace_event {

void TraceEventFilter::EndEvent(const char*, const char*) const {}

}  // namespace trace_event
}  // namespace base
