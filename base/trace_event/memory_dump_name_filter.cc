#include "base/trace_event/memory_dump_name_filter.h"

#include <cctype>

namespace base {
namespace trace_event {

namespace {

// The dumps of the trace log ("TraceLog") and of the allocator shim's heap. The trace
// log's per-thread buffers are named by decimal thread id and stay out.
const char* const kAllowedInBackground[] = {
    "malloc",
    "malloc/allocated_objects",
    "winheap",
    "winheap/allocated_objects",
    "tracing/main_trace_log",
    "tracing/main_trace_log/TraceEvent",
    "tracing/main_trace_log/TraceEvent (unused)",
    "tracing/main_trace_log/TraceBufferChunk",
    "tracing/main_trace_log/TraceEventMemoryOverhead",
    "tracing/main_trace_log/TypeNameDeduplicator",
    "tracing/main_trace_log/StackFrameDeduplicator",
    "tracing/main_trace_log/narrow string",
    nullptr,
};

std::string ReplaceAddresses(const std::string& name) {
  std::string result;
  result.reserve(name.size());
  for (size_t i = 0; i < name.size();) {
    if (name.compare(i, 2, "0x") == 0) {
      result += "0x?";
      i += 2;
      while (i < name.size() && std::isxdigit(static_cast<unsigned char>(name[i]))) ++i;
    } else {
      result += name[i++];
    }
  }
  return result;
}

}  // namespace

bool MatchesMemoryDumpNamePattern(const std::string& name, const char* const* patterns) {
  const std::string pattern_form = ReplaceAddresses(name);
  for (; *patterns; ++patterns) {
    if (pattern_form == *patterns) return true;
  }
  return false;
}

bool IsMemoryDumpNameAllowedInBackground(const std::string& name) {
  return MatchesMemoryDumpNamePattern(name, kAllowedInBackground);
}

}  // namespace trace_event
}  // namespace base
