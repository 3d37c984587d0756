// Which allocator dumps a background memory dump may report. Names are compared after
// every "0x" and the hexadecimal digits after it became "0x?", so one row covers the
// dumps of every object address.
#ifndef BASE_TRACE_EVENT_MEMORY_DUMP_NAME_FILTER_H_
#define BASE_TRACE_EVENT_MEMORY_DUMP_NAME_FILTER_H_

#include <string>

namespace base {
namespace trace_event {

// Whether |name| matches one of the null-terminated |patterns| exactly.
bool MatchesMemoryDumpNamePattern(const std::string& name, const char* const* patterns);

// The same against the names of this program's own dump providers.
bool IsMemoryDumpNameAllowedInBackground(const std::string& name);

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_MEMORY_DUMP_NAME_FILTER_H_
