#include "base/trace_event/heap_profiler_stack_frame_deduplicator.h"

#include <string>

#include <gtest/gtest.h>

#include "base/trace_event/trace_format_test_util.h"

namespace base {
namespace trace_event {
namespace {

TEST(StackFrameDeduplicatorTest, GoldenJsonOfATree) {
  typedef HeapContextTracker::StackFrame Frame;
  const Frame kMain = {Frame::THREAD_NAME, "CrBrowserMain"};
  const Frame kRun = {Frame::TRACE_EVENT_NAME, "MessageLoop::RunTask"};
  const Frame kPc = {Frame::PROGRAM_COUNTER, reinterpret_cast<const void*>(0x7ff6a1b2c3d4)};
  const Frame kOther = {Frame::TRACE_EVENT_NAME, "Other"};

  StackFrameDeduplicator frames;
  EXPECT_EQ("{}", TraceFormatOf(frames));
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
      TraceFormatOf(frames));
}

TEST(StackFrameDeduplicatorTest, OverheadCountsMapNodesAndFrames) {
  typedef HeapContextTracker::StackFrame Frame;
  StackFrameDeduplicator frames;
  EXPECT_EQ(48u, EstimatedOverheadBytes(&frames, "StackFrameDeduplicator"));
  const Frame stack[] = {{Frame::TRACE_EVENT_NAME, "a"}, {Frame::TRACE_EVENT_NAME, "b"}};
  frames.Insert(stack, stack + 2);
  frames.Insert(stack + 1, stack + 2);
  // Three frames in three map nodes (two roots, one child).
  EXPECT_EQ(56u * 3 + 40 * 3 + 48, EstimatedOverheadBytes(&frames, "StackFrameDeduplicator"));
}

}  // namespace
}  // namespace trace_event
}  // namespace base
