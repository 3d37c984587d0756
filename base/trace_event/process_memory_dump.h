// What one process reports in a memory dump: its allocator dumps by absolute name.
// Providers add them from OnMemoryDump; in a background dump only names that the
// background filter lets through are kept, the others are swallowed by one "discarded"
// dump that is never reported.
//
//   MemoryAllocatorDump* dump = pmd->CreateAllocatorDump("winheap/allocated_objects");
//   dump->AddScalar("size", "bytes", allocated);
#ifndef BASE_TRACE_EVENT_PROCESS_MEMORY_DUMP_H_
#define BASE_TRACE_EVENT_PROCESS_MEMORY_DUMP_H_

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "base/trace_event/memory_allocator_dump.h"
#include "base/trace_event/memory_dump_provider.h"

namespace base {
namespace trace_event {

class ProcessMemoryDump {
 public:
  typedef std::unordered_map<std::string, std::unique_ptr<MemoryAllocatorDump>> AllocatorDumps;

  explicit ProcessMemoryDump(const MemoryDumpArgs& args);
  ~ProcessMemoryDump();
  ProcessMemoryDump(const ProcessMemoryDump&) = delete;
  ProcessMemoryDump& operator=(const ProcessMemoryDump&) = delete;

  // The dump to write to: a new one, the one already made under |absolute_name|, or in
  // a background dump the discarded one when the name is not allowed there.
  MemoryAllocatorDump* CreateAllocatorDump(const std::string& absolute_name);
  // The dump made under |absolute_name|, or null.
  MemoryAllocatorDump* GetAllocatorDump(const std::string& absolute_name) const;

  // The add_scalar entry of MemoryDumpManagerFunctions over this class: the memory-dump
  // manager installs it so that providers' scalars land in |pmd|.
  static void AddScalarToAllocatorDump(ProcessMemoryDump* pmd, const std::string& dump_name,
                                       const char* entry_name, const char* units,
                                       uint64_t value);

  const AllocatorDumps& allocator_dumps() const { return allocator_dumps_; }
  uint32_t level_of_detail() const { return args_.level_of_detail; }
  // The dump that absorbs what must not be reported, or null before it was needed.
  const MemoryAllocatorDump* black_hole_dump() const { return black_hole_dump_.get(); }

 private:
  const MemoryDumpArgs args_;
  AllocatorDumps allocator_dumps_;
  std::unique_ptr<MemoryAllocatorDump> black_hole_dump_;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_PROCESS_MEMORY_DUMP_H_
