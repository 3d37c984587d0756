// Counts the memory that the trace machinery spends on itself, by object type, for
// its memory dumps. Types are told apart by the address of their name, so callers use
// the shared names below (or their own static texts).
//
//   TraceEventMemoryOverhead overhead;
//   overhead.Add(kTraceEventName, 1, sizeof(event), sizeof(event));
//   overhead.AddSelf();
//   overhead.DumpInto("tracing/main_trace_log", pmd);
#ifndef BASE_TRACE_EVENT_TRACE_EVENT_MEMORY_OVERHEAD_H_
#define BASE_TRACE_EVENT_TRACE_EVENT_MEMORY_OVERHEAD_H_

#include <cstddef>
#include <cstdint>
#include <unordered_map>

namespace base {
namespace trace_event {

class ProcessMemoryDump;

extern const char kTraceEventName[];         // "TraceEvent"
extern const char kTraceEventUnusedName[];   // "TraceEvent (unused)"
extern const char kNarrowStringName[];       // "narrow string"
extern const char kTraceBufferChunkName[];   // "TraceBufferChunk"

class TraceEventMemoryOverhead {
 public:
  TraceEventMemoryOverhead();
  ~TraceEventMemoryOverhead();
  TraceEventMemoryOverhead(const TraceEventMemoryOverhead&) = delete;
  TraceEventMemoryOverhead& operator=(const TraceEventMemoryOverhead&) = delete;

  void Add(const char* object_type, uint64_t count, uint64_t allocated_bytes,
           uint64_t resident_bytes);
  // Adds every entry of |other|.
  void Update(const TraceEventMemoryOverhead& other);
  uint64_t GetCount(const char* object_type) const;
  // Adds this record's own size under "TraceEventMemoryOverhead".
  void AddSelf();
  // One allocator dump "<base_name>/<type>" per entry with "size", "resident_size" and
  // "object_count".
  void DumpInto(const char* base_name, ProcessMemoryDump* pmd) const;

  // The number of distinct types kept inline before they move to a hash map.
  static constexpr size_t kInlineEntries = 16;

 private:
  struct Counts {
    uint64_t count = 0;
    uint64_t allocated_bytes = 0;
    uint64_t resident_bytes = 0;
  };
  struct InlineEntry {
    const char* type;
    Counts counts;
  };

  template <typename Visitor>
  void ForEach(Visitor visit) const;

  InlineEntry inline_entries_[kInlineEntries];
  size_t inline_count_ = 0;
  // Used instead of the inline entries once there are more types than they hold.
  std::unordered_map<const char*, Counts> spilled_;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_EVENT_MEMORY_OVERHEAD_H_
