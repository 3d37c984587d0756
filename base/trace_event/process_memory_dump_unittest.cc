#include "base/trace_event/process_memory_dump.h"

#include <gtest/gtest.h>

namespace base {
namespace trace_event {
namespace {

TEST(ProcessMemoryDumpTest, ANameIsMadeOnceAndBackgroundDumpsAreFiltered) {
  ProcessMemoryDump detailed(MemoryDumpArgs{2});
  MemoryAllocatorDump* made = detailed.CreateAllocatorDump("cache/pool_0x12ab/entries");
  EXPECT_EQ(made, detailed.CreateAllocatorDump("cache/pool_0x12ab/entries"));
  EXPECT_EQ(made, detailed.GetAllocatorDump("cache/pool_0x12ab/entries"));
  EXPECT_EQ(nullptr, detailed.black_hole_dump());

  ProcessMemoryDump background(MemoryDumpArgs{0});
  MemoryAllocatorDump* allowed = background.CreateAllocatorDump("tracing/main_trace_log");
  EXPECT_EQ("tracing/main_trace_log", allowed->absolute_name());
  MemoryAllocatorDump* swallowed = background.CreateAllocatorDump("cache/pool_0x12ab/entries");
  EXPECT_EQ("discarded", swallowed->absolute_name());
  EXPECT_EQ(swallowed, background.CreateAllocatorDump("tracing/thread_12"));
  EXPECT_EQ(swallowed, background.black_hole_dump());
  EXPECT_EQ(1u, background.allocator_dumps().size());

  // The trace log's overhead reaches a dump through the manager's scalar entry.
  ProcessMemoryDump::AddScalarToAllocatorDump(&background, "tracing/main_trace_log/TraceEvent",
                                              "size", "bytes", 64);
  ASSERT_NE(nullptr, background.GetAllocatorDump("tracing/main_trace_log/TraceEvent"));
  EXPECT_EQ(64u, background.GetAllocatorDump("tracing/main_trace_log/TraceEvent")->size());
}

}  // namespace
}  // namespace trace_event
}  // namespace base
