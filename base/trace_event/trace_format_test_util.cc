#include "base/trace_event/trace_format_test_util.h"

#include "base/trace_event/convertable_to_trace_format.h"
#include "base/trace_event/memory_dump_provider.h"
#include "base/trace_event/process_memory_dump.h"
#include "base/trace_event/trace_event_memory_overhead.h"

namespace base {
namespace trace_event {

std::string TraceFormatOf(const ConvertableToTraceFormat& object) {
  std::string json;
  object.AppendAsTraceFormat(&json);
  return json;
}

uint64_t EstimatedOverheadBytes(ConvertableToTraceFormat* object, const char* type_name) {
  TraceEventMemoryOverhead overhead;
  object->EstimateTraceMemoryOverhead(&overhead);
  static const MemoryDumpManagerFunctions kIntoDump = {
      nullptr, nullptr, &ProcessMemoryDump::AddScalarToAllocatorDump};
  SetMemoryDumpManagerFunctions(&kIntoDump);
  ProcessMemoryDump pmd(MemoryDumpArgs{2});
  overhead.DumpInto("overhead", &pmd);
  SetMemoryDumpManagerFunctions(nullptr);
  const MemoryAllocatorDump* dump = pmd.GetAllocatorDump(std::string("overhead/") + type_name);
  return dump ? dump->size() : 0;
}

}  // namespace trace_event
}  // namespace base
