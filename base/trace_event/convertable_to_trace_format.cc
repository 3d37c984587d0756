#include "base/trace_event/convertable_to_trace_format.h"

#include "base/trace_event/trace_event_memory_overhead.h"

namespace base {
namespace trace_event {

void ConvertableToTraceFormat::EstimateTraceMemoryOverhead(
    TraceEventMemoryOverhead* overhead) {
  static const char kUnknown[] = "ConvertableToTraceFormat(Unknown)";
  overhead->Add(kUnknown, 1, sizeof(*this), sizeof(*this));
}

}  // namespace trace_event
}  // namespace base
