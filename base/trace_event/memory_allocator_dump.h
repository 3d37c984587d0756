// One named block of memory in a process memory dump ("malloc/allocated_objects"),
// with scalar attributes. Its guid depends only on the process and the name, so dumps
// of one name in different dumps of a process can be matched.
#ifndef BASE_TRACE_EVENT_MEMORY_ALLOCATOR_DUMP_H_
#define BASE_TRACE_EVENT_MEMORY_ALLOCATOR_DUMP_H_

#include <cstdint>
#include <memory>
#include <string>

#include "base/trace_event/traced_value.h"

namespace base {
namespace trace_event {

class ProcessMemoryDump;

class MemoryAllocatorDump {
 public:
  // |process_memory_dump| owns the dump.
  MemoryAllocatorDump(const std::string& absolute_name, ProcessMemoryDump* process_memory_dump);
  ~MemoryAllocatorDump();
  MemoryAllocatorDump(const MemoryAllocatorDump&) = delete;
  MemoryAllocatorDump& operator=(const MemoryAllocatorDump&) = delete;

  // The first 8 bytes (little-endian) of the SHA-1 of "<pid>:<absolute name>".
  static uint64_t GetDumpIdFromName(int process_id, const std::string& absolute_name);

  // Adds {"type": "scalar", "units": units, "value": "<hex>"} under |name|; "size"
  // also becomes the dump's size.
  void AddScalar(const char* name, const char* units, uint64_t value);

  const std::string& absolute_name() const { return absolute_name_; }
  ProcessMemoryDump* process_memory_dump() const { return process_memory_dump_; }
  const TracedValue& attributes() const { return *attributes_; }
  uint64_t guid() const { return guid_; }
  uint32_t flags() const { return flags_; }
  uint64_t size() const { return size_; }

 private:
  const std::string absolute_name_;
  ProcessMemoryDump* const process_memory_dump_;
  const std::unique_ptr<TracedValue> attributes_;
  const uint64_t guid_;
  uint32_t flags_ = 0;
  uint64_t size_ = 0;
  // Kept between calls: dumps add many scalars.
  std::string string_conversion_buffer_;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_MEMORY_ALLOCATOR_DUMP_H_
