#include "base/trace_event/memory_allocator_dump.h"

#include <string>

#include <gtest/gtest.h>

#include "base/trace_event/process_memory_dump.h"
#include "base/trace_event/trace_log.h"

namespace base {
namespace trace_event {
namespace {

TEST(MemoryAllocatorDumpTest, GuidIsTheStartOfTheSha1OfPidAndName) {
  // Little-endian first 8 bytes of SHA-1("1234:malloc") and of the second text.
  EXPECT_EQ(0x47c7ff2945825b2aull, MemoryAllocatorDump::GetDumpIdFromName(1234, "malloc"));
  EXPECT_EQ(0xa22feef3688ce312ull,
            MemoryAllocatorDump::GetDumpIdFromName(4711, "winheap/allocated_objects"));

  ProcessMemoryDump first(MemoryDumpArgs{2});
  ProcessMemoryDump second(MemoryDumpArgs{2});
  MemoryAllocatorDump* dump = first.CreateAllocatorDump("malloc");
  EXPECT_EQ(MemoryAllocatorDump::GetDumpIdFromName(TraceLog::GetInstance()->process_id(), "malloc"),
            dump->guid());
  EXPECT_EQ(dump->guid(), second.CreateAllocatorDump("malloc")->guid());
  EXPECT_NE(dump->guid(), first.CreateAllocatorDump("winheap")->guid());
  EXPECT_EQ(0u, dump->flags());
}

TEST(MemoryAllocatorDumpTest, ScalarsAreHexTextAndSizeIsKept) {
  ProcessMemoryDump pmd(MemoryDumpArgs{1});
  MemoryAllocatorDump* dump = pmd.CreateAllocatorDump("winheap/allocated_objects");
  EXPECT_EQ(0u, dump->size());
  dump->AddScalar("size", "bytes", 0x1234abcdull);
  dump->AddScalar("object_count", "objects", 0xFFFFFFFFFFFFFFFFull);
  EXPECT_EQ(0x1234abcdull, dump->size());
  std::string json;
  dump->attributes().AppendAsTraceFormat(&json);
  EXPECT_EQ(
      "{\"object_count\":{\"type\":\"scalar\",\"units\":\"objects\","
      "\"value\":\"ffffffffffffffff\"},"
      "\"size\":{\"type\":\"scalar\",\"units\":\"bytes\",\"value\":\"1234abcd\"}}",
      json);
  EXPECT_EQ(&pmd, dump->process_memory_dump());
}

}  // namespace
}  // namespace trace_event
}  // namespace base
