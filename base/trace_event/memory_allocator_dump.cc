#include "base/trace_event/memory_allocator_dump.h"

#include <cstring>

#include "base/hash/sha1.h"
#include "base/strings/stringprintf.h"
#include "base/trace_event/trace_log.h"

namespace base {
namespace trace_event {

uint64_t MemoryAllocatorDump::GetDumpIdFromName(int process_id,
                                                const std::string& absolute_name) {
  const std::string text = StringPrintf("%d:%s", process_id, absolute_name.c_str());
  uint8_t digest[kSha1Length];
  Sha1Digest(reinterpret_cast<const uint8_t*>(text.data()), text.size(), digest);
  uint64_t guid = 0;
  std::memcpy(&guid, digest, sizeof(guid));
  return guid;
}

MemoryAllocatorDump::MemoryAllocatorDump(const std::string& absolute_name,
                                         ProcessMemoryDump* process_memory_dump)
    : absolute_name_(absolute_name),
      process_memory_dump_(process_memory_dump),
      attributes_(new TracedValue),
      guid_(GetDumpIdFromName(TraceLog::GetInstance()->process_id(), absolute_name)) {}

MemoryAllocatorDump::~MemoryAllocatorDump() = default;

void MemoryAllocatorDump::AddScalar(const char* name, const char* units, uint64_t value) {
  if (std::strcmp(name, "size") == 0) size_ = value;
  string_conversion_buffer_.clear();
  StringAppendF(&string_conversion_buffer_, "%llx", static_cast<unsigned long long>(value));
  attributes_->BeginDictionaryWithCopiedName(name);
  attributes_->SetString("type", "scalar");
  attributes_->SetStringWithCopiedName("units", units);
  attributes_->SetString("value", string_conversion_buffer_);
  attributes_->EndDictionary();
}

}  // namespace trace_event
}  // namespace base
