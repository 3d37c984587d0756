#include <string>

#include <gtest/gtest.h>

#include "base/trace_event/heap_profiler_stack_frame_deduplicator.h"
#include "base/trace_event/heap_profiler_type_name_deduplicator.h"
#include "base/trace_event/memory_dump_provider.h"
#include "base/trace_event/process_memory_dump.h"
#include "base/trace_event/trace_event_memory_overhead.h"

namespace base {
namespace trace_event {
namespace {

std::string Json(const ConvertableToTraceFormat& value) {
  std::string json;
  value.AppendAsTraceFormat(&json);
  return json;
}

TEST(TypeNameDeduplicatorTest, CategoriesOfTypeNames) {
  const struct {
    const char* type_name;
    const char* category;
  } kCases[] = {
      {"base/files/file_path.h", "base/files"},
      {"..\\..\\base\\values.cc", "base"},
      {"../../../desktop/windows/x.cc", "desktop/windows"},
      {"disabled-by-default-memory-infra,foo", "memory-infra"},
      {"toplevel,ipc", "toplevel"},
      {"plain", "plain"},
  };
  for (const auto& test : kCases)
    EXPECT_EQ(test.category, TypeNameDeduplicator::ExtractCategory(test.type_name).as_string());
}

TEST(TypeNameDeduplicatorTest, GoldenJson) {
  TypeNameDeduplicator empty;
  EXPECT_EQ("{\"0\":\"[unknown]\"}", Json(empty));

  // Entries are ordered by the address of their name: one array fixes the order.
  static const char kNames[3][40] = {"base/files/file_path.h", "disabled-by-default-memory-infra,x",
                                     "quote\"and\x01"};
  TypeNameDeduplicator types;
  EXPECT_EQ(1, types.Insert(kNames[0]));
  EXPECT_EQ(2, types.Insert(kNames[1]));
  EXPECT_EQ(1, types.Insert(kNames[0]));
  EXPECT_EQ(3, types.Insert(kNames[2]));
  EXPECT_EQ(0, types.Insert(nullptr));
  EXPECT_EQ(
      "{\"0\":\"[unknown]\",\"1\":\"base/files\",\"2\":\"memory-infra\","
      "\"3\":\"quote\\\"and\\u0001\"}",
      Json(types));
}

TEST(StackFrameDeduplicatorTest, GoldenJsonOfATree) {
  typedef HeapContextTracker::StackFrame Frame;
  const Frame kMain = {Frame::THREAD_NAME, "CrBrowserMain"};
  const Frame kRun = {Frame::TRACE_EVENT_NAME, "MessageLoop::RunTask"};
  const Frame kPc = {Frame::PROGRAM_COUNTER, reinterpret_cast<const void*>(0x7ff6a1b2c3d4)};
  const Frame kOther = {Frame::TRACE_EVENT_NAME, "Other"};

  StackFrameDeduplicator frames;
  EXPECT_EQ("{}", Json(frames));
  const Frame first[] = {kMain, kRun, kPc};
  const Frame second[] = {kMain, kRun, kOther};
  const Frame third[] = {kOther};
  EXPECT_EQ(2, frames.Insert(first, first + 3));
  EXPECT_EQ(3, frames.Insert(second, second + 3));
  EXPECT_EQ(2, frames.Insert(first, first + 3));
  EXPECT_EQ(1, frames.Insert(first, first + 2));
  EXPECT_EQ(4, frames.Insert(third, third + 1));
  EXPECT_EQ(-1, frames.Insert(third, third));
  EXPECT_EQ(
      "{\"0\":{\"name\":\"[Thread: CrBrowserMain]\"},"
      "\"1\":{\"name\":\"MessageLoop::RunTask\",\"parent\":\"0\"},"
      "\"2\":{\"name\":\"pc:7ff6a1b2c3d4\",\"parent\":\"1\"},"
      "\"3\":{\"name\":\"Other\",\"parent\":\"1\"},"
      "\"4\":{\"name\":\"Other\"}}",
      Json(frames));
}

TEST(DeduplicatorTest, OverheadEstimates) {
  TypeNameDeduplicator types;
  types.Insert("a");
  StackFrameDeduplicator frames;
  typedef HeapContextTracker::StackFrame Frame;
  const Frame stack[] = {{Frame::TRACE_EVENT_NAME, "a"}, {Frame::TRACE_EVENT_NAME, "b"}};
  frames.Insert(stack, stack + 2);
  frames.Insert(stack + 1, stack + 2);

  TraceEventMemoryOverhead overhead;
  types.EstimateTraceMemoryOverhead(&overhead);
  frames.EstimateTraceMemoryOverhead(&overhead);

  // Read back as a memory-dump manager would: through the scalar entry into a dump.
  const MemoryDumpManagerFunctions kIntoDump = {nullptr, nullptr,
                                               &ProcessMemoryDump::AddScalarToAllocatorDump};
  SetMemoryDumpManagerFunctions(&kIntoDump);
  MemoryDumpArgs args;
  args.level_of_detail = 2;
  ProcessMemoryDump pmd(args);
  overhead.DumpInto("heap", &pmd);
  SetMemoryDumpManagerFunctions(nullptr);

  // Two type entries (with the unknown one): 48 each + 24.
  const MemoryAllocatorDump* type_dump = pmd.GetAllocatorDump("heap/TypeNameDeduplicator");
  ASSERT_NE(nullptr, type_dump);
  EXPECT_EQ(120u, type_dump->size());
  // Three frames in three map nodes (two roots, one child): 56 * 3 + 40 * 3 + 48.
  const MemoryAllocatorDump* frame_dump = pmd.GetAllocatorDump("heap/StackFrameDeduplicator");
  ASSERT_NE(nullptr, frame_dump);
  EXPECT_EQ(336u, frame_dump->size());
}

}  // namespace
}  // namespace trace_event
}  // namespace base
