#include "base/trace_event/trace_event_memory_overhead.h"

#include <string>

#include "base/trace_event/heap_context_tracker.h"
#include "base/trace_event/memory_dump_provider.h"

namespace base {
namespace trace_event {

const char kTraceEventName[] = "TraceEvent";
const char kTraceEventUnusedName[] = "TraceEvent (unused)";
const char kNarrowStringName[] = "narrow string";
const char kTraceBufferChunkName[] = "TraceBufferChunk";

namespace {
const char kOverheadName[] = "TraceEventMemoryOverhead";
}  // namespace

TraceEventMemoryOverhead::TraceEventMemoryOverhead() = default;
TraceEventMemoryOverhead::~TraceEventMemoryOverhead() = default;

template <typename Visitor>
void TraceEventMemoryOverhead::ForEach(Visitor visit) const {
  if (spilled_.empty()) {
    for (size_t i = 0; i < inline_count_; ++i)
      visit(inline_entries_[i].type, inline_entries_[i].counts);
    return;
  }
  for (const auto& entry : spilled_) visit(entry.first, entry.second);
}

void TraceEventMemoryOverhead::Add(const char* object_type, uint64_t count,
                                   uint64_t allocated_bytes, uint64_t resident_bytes) {
  HeapProfilerScopedIgnore ignore;
  Counts* counts = nullptr;
  if (spilled_.empty()) {
    for (size_t i = 0; i < inline_count_ && !counts; ++i) {
      if (inline_entries_[i].type == object_type) counts = &inline_entries_[i].counts;
    }
    if (!counts && inline_count_ < kInlineEntries) {
      inline_entries_[inline_count_] = {object_type, Counts()};
      counts = &inline_entries_[inline_count_++].counts;
    }
    if (!counts) {
      for (size_t i = 0; i < inline_count_; ++i)
        spilled_[inline_entries_[i].type] = inline_entries_[i].counts;
      inline_count_ = 0;
    }
  }
  if (!counts) counts = &spilled_[object_type];
  counts->count += count;
  counts->allocated_bytes += allocated_bytes;
  counts->resident_bytes += resident_bytes;
}

void TraceEventMemoryOverhead::Update(const TraceEventMemoryOverhead& other) {
  other.ForEach([this](const char* type, const Counts& counts) {
    Add(type, counts.count, counts.allocated_bytes, counts.resident_bytes);
  });
}

uint64_t TraceEventMemoryOverhead::GetCount(const char* object_type) const {
  uint64_t found = 0;
  ForEach([&](const char* type, const Counts& counts) {
    if (type == object_type) found = counts.count;
  });
  return found;
}

void TraceEventMemoryOverhead::AddSelf() {
  // A hash-map node holds the entry and about two pointers of bookkeeping.
  const uint64_t node_size =
      sizeof(std::pair<const char* const, Counts>) + 2 * sizeof(void*);
  uint64_t size = sizeof(*this) + spilled_.size() * node_size;
  Add(kOverheadName, 1, size, size);
}

void TraceEventMemoryOverhead::DumpInto(const char* base_name, ProcessMemoryDump* pmd) const {
  HeapProfilerScopedIgnore ignore;
  ForEach([&](const char* type, const Counts& counts) {
    std::string dump_name = std::string(base_name) + "/" + type;
    AddAllocatorDumpScalar(pmd, dump_name, "size", "bytes", counts.allocated_bytes);
    AddAllocatorDumpScalar(pmd, dump_name, "resident_size", "bytes", counts.resident_bytes);
    AddAllocatorDumpScalar(pmd, dump_name, "object_count", "objects", counts.count);
  });
}

}  // namespace trace_event
}  // namespace base
