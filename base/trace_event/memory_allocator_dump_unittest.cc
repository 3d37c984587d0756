#include "base/trace_event/memory_allocator_dump.h"

#include <string>

#include <gtest/gtest.h>

#include "base/trace_event/memory_dump_name_filter.h"
#include "base/trace_event/process_memory_dump.h"
#include "base/trace_event/trace_event_memory_overhead.h"
#include "base/trace_event/trace_log.h"

namespace base {
namespace trace_event {
namespace {

MemoryDumpArgs Detail(uint32_t level) {
  MemoryDumpArgs args;
  args.level_of_detail = level;
  return args;
}

TEST(MemoryAllocatorDumpTest, GuidIsTheStartOfTheSha1OfPidAndName) {
  // Little-endian first 8 bytes of SHA-1("1234:malloc") and of the second text.
  EXPECT_EQ(0x47c7ff2945825b2aull, MemoryAllocatorDump::GetDumpIdFromName(1234, "malloc"));
  EXPECT_EQ(0xa22feef3688ce312ull,
            MemoryAllocatorDump::GetDumpIdFromName(4711, "winheap/allocated_objects"));

  ProcessMemoryDump first(Detail(2));
  ProcessMemoryDump second(Detail(2));
  MemoryAllocatorDump* dump = first.CreateAllocatorDump("malloc");
  EXPECT_EQ(MemoryAllocatorDump::GetDumpIdFromName(TraceLog::GetInstance()->process_id(), "malloc"),
            dump->guid());
  EXPECT_EQ(dump->guid(), second.CreateAllocatorDump("malloc")->guid());
  EXPECT_NE(dump->guid(), first.CreateAllocatorDump("winheap")->guid());
  EXPECT_EQ(0u, dump->flags());
}

TEST(MemoryAllocatorDumpTest, ScalarsAreHexTextAndSizeIsKept) {
  ProcessMemoryDump pmd(Detail(1));
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

TEST(ProcessMemoryDumpTest, ANameIsMadeOnceAndBackgroundDumpsAreFiltered) {
  ProcessMemoryDump detailed(Detail(2));
  MemoryAllocatorDump* made = detailed.CreateAllocatorDump("cache/pool_0x12ab/entries");
  EXPECT_EQ(made, detailed.CreateAllocatorDump("cache/pool_0x12ab/entries"));
  EXPECT_EQ(made, detailed.GetAllocatorDump("cache/pool_0x12ab/entries"));
  EXPECT_EQ(nullptr, detailed.black_hole_dump());

  ProcessMemoryDump background(Detail(0));
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

TEST(MemoryDumpNameFilterTest, AddressesMatchTheirPattern) {
  const char* const kPatterns[] = {"cache/pool_0x?/entries", "malloc", nullptr};
  const struct {
    const char* name;
    bool allowed;
  } kCases[] = {
      {"cache/pool_0x12ab/entries", true},
      {"cache/pool_0xABCDEF0123/entries", true},
      {"cache/pool_0x/entries", true},  // no digits: still the pattern form
      {"cache/pool_12ab/entries", false},
      {"cache/pool_0x12ab/entries/more", false},
      {"malloc", true},
      {"mallocs", false},
      {"", false},
  };
  for (const auto& test : kCases)
    EXPECT_EQ(test.allowed, MatchesMemoryDumpNamePattern(test.name, kPatterns)) << test.name;
  EXPECT_TRUE(IsMemoryDumpNameAllowedInBackground("winheap/allocated_objects"));
  EXPECT_FALSE(IsMemoryDumpNameAllowedInBackground("sqlite"));
}

}  // namespace
}  // namespace trace_event
}  // namespace base
