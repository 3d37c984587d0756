#include "base/trace_event/process_memory_dump.h"

#include <utility>

#include "base/trace_event/memory_dump_name_filter.h"

namespace base {
namespace trace_event {

namespace {

const char kBlackHoleDumpName[] = "discarded";
const uint32_t kLevelOfDetailBackground = 0;

}  // namespace

ProcessMemoryDump::ProcessMemoryDump(const MemoryDumpArgs& args) : args_(args) {}

ProcessMemoryDump::~ProcessMemoryDump() = default;

MemoryAllocatorDump* ProcessMemoryDump::CreateAllocatorDump(const std::string& absolute_name) {
  if (args_.level_of_detail == kLevelOfDetailBackground &&
      !IsMemoryDumpNameAllowedInBackground(absolute_name)) {
    if (!black_hole_dump_)
      black_hole_dump_.reset(new MemoryAllocatorDump(kBlackHoleDumpName, this));
    return black_hole_dump_.get();
  }
  auto inserted = allocator_dumps_.emplace(absolute_name, nullptr);
  if (inserted.second)
    inserted.first->second.reset(new MemoryAllocatorDump(absolute_name, this));
  return inserted.first->second.get();
}

MemoryAllocatorDump* ProcessMemoryDump::GetAllocatorDump(const std::string& absolute_name) const {
  auto found = allocator_dumps_.find(absolute_name);
  return found == allocator_dumps_.end() ? nullptr : found->second.get();
}

void ProcessMemoryDump::AddScalarToAllocatorDump(ProcessMemoryDump* pmd,
                                                 const std::string& dump_name,
                                                 const char* entry_name, const char* units,
                                                 uint64_t value) {
  if (pmd) pmd->CreateAllocatorDump(dump_name)->AddScalar(entry_name, units, value);
}

}  // namespace trace_event
}  // namespace base
