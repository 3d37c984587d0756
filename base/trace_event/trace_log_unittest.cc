#include "base/trace_event/trace_log.h"

#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "base/trace_event/heap_context_tracker.h"

namespace base {
namespace trace_event {
namespace {

TEST(TraceLogTest, OneInstanceAndItsProcessHash) {
  TraceLog* log = TraceLog::GetInstance();
  EXPECT_EQ(log, TraceLog::GetInstance());
  uint64_t expected = (14695981039346656037ull ^ GetCurrentProcessId()) * 1099511628211ull;
  EXPECT_EQ(expected, log->process_id_hash());

  const uint8_t* category = TraceLog::GetCategoryGroupEnabled("toplevel");
  const char* names[] = {"src_file", "src_func"};
  TraceEventHandle handle = log->AddEvent('X', category, "MessageLoop::RunTask", nullptr, 0, 0,
                                          static_cast<int>(GetCurrentThreadId()), TimeTicks(),
                                          2, names, nullptr, nullptr, nullptr, 0);
  EXPECT_EQ(0u, handle.chunk_seq) << "events while disabled give the empty handle";
  log->UpdateTraceEventDuration(category, "MessageLoop::RunTask", handle);
}

TEST(TraceLogTest, CategoriesAreDisabledAndStable) {
  const uint8_t* toplevel = TraceLog::GetCategoryGroupEnabled("toplevel");
  std::string copy = "toplevel";
  EXPECT_EQ(toplevel, TraceLog::GetCategoryGroupEnabled(copy.c_str()));
  const uint8_t* flow = TraceLog::GetCategoryGroupEnabled("disabled-by-default-toplevel.flow");
  EXPECT_NE(toplevel, flow);
  EXPECT_EQ(flow, TraceLog::GetCategoryGroupEnabled("disabled-by-default-toplevel.flow"));
  EXPECT_STREQ("disabled-by-default-toplevel.flow", TraceLog::GetCategoryGroupName(flow));
  EXPECT_EQ(0, *toplevel & TraceLog::kEnabledMask);
  EXPECT_EQ(0, *flow & TraceLog::kEnabledMask);
  EXPECT_EQ(0, *TraceLog::GetCategoryGroupEnabled("base"));
}

TEST(TraceLogTest, FullTableGivesTheExhaustedEntry) {
  const uint8_t* exhausted = nullptr;
  for (int i = 0; TraceLog::GetCategoryCount() < TraceLog::kMaxCategories; ++i) {
    std::string name = "test.category." + std::to_string(i);
    const uint8_t* state = TraceLog::GetCategoryGroupEnabled(name.c_str());
    EXPECT_STREQ(name.c_str(), TraceLog::GetCategoryGroupName(state));
  }
  exhausted = TraceLog::GetCategoryGroupEnabled("one.too.many");
  EXPECT_STREQ("tracing categories exhausted; must increase kMaxCategories",
               TraceLog::GetCategoryGroupName(exhausted));
  EXPECT_EQ(0, *exhausted);
  // Names stored before the table filled still resolve.
  EXPECT_STREQ("toplevel",
               TraceLog::GetCategoryGroupName(TraceLog::GetCategoryGroupEnabled("toplevel")));
}

TEST(HeapContextTrackerTest, TaskContextsAndPseudoStackAreBounded) {
  EXPECT_EQ(HeapContextTracker::CaptureMode::DISABLED, HeapContextTracker::capture_mode());
  HeapContextTracker* tracker = HeapContextTracker::ForCurrentThread();
  ASSERT_NE(nullptr, tracker);
  EXPECT_EQ(tracker, HeapContextTracker::ForCurrentThread());
  static const char* const kFiles[17] = {"f0",  "f1",  "f2",  "f3",  "f4",  "f5",
                                         "f6",  "f7",  "f8",  "f9",  "f10", "f11",
                                         "f12", "f13", "f14", "f15", "f16"};
  for (const char* file : kFiles) tracker->PushTaskContext(file);
  ASSERT_EQ(16u, tracker->task_contexts().size());
  tracker->PopTaskContext();  // removes the 16th; the 17th was dropped
  EXPECT_STREQ("f14", tracker->task_contexts().back());
  while (!tracker->task_contexts().empty()) tracker->PopTaskContext();
  tracker->PopTaskContext();

  tracker->PopPseudoStackFrame();  // empty: nothing happens
  for (int i = 0; i < 130; ++i)
    tracker->PushPseudoStackFrame({HeapContextTracker::StackFrame::TRACE_EVENT_NAME, "e"});
  EXPECT_EQ(128u, tracker->pseudo_stack().size());
}

}  // namespace
}  // namespace trace_event
}  // namespace base
