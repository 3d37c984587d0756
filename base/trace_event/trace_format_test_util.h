// Reading trace-format objects in tests: their JSON, and what they report about their
// own memory as the memory-dump manager would read it.
#ifndef BASE_TRACE_EVENT_TRACE_FORMAT_TEST_UTIL_H_
#define BASE_TRACE_EVENT_TRACE_FORMAT_TEST_UTIL_H_

#include <cstdint>
#include <string>

namespace base {
namespace trace_event {

class ConvertableToTraceFormat;

// What |object| appends as its trace format.
std::string TraceFormatOf(const ConvertableToTraceFormat& object);

// The "size" of the dump "overhead/<type_name>" after |object| estimated its overhead
// and the estimate was dumped through the manager's scalar entry (0 when it reported
// nothing under that name).
uint64_t EstimatedOverheadBytes(ConvertableToTraceFormat* object, const char* type_name);

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_FORMAT_TEST_UTIL_H_
