#include "base/trace_event/trace_log.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/allocator/allocator_dispatch.h"
#include "base/bind.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/memory/weak_ptr.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "base/synchronization/sync_event.h"
#include "base/threading/thread.h"
#include "base/threading/thread_name_registry.h"
#include "base/trace_event/heap_context_tracker.h"
#include "base/trace_event/memory_dump_provider.h"
#include "base/trace_event/trace_buffer.h"
#include "base/trace_event/trace_event_memory_overhead.h"
#include "base/trace_event/trace_event_filter.h"
#include "base/values.h"

namespace base {
namespace trace_event {
namespace {

int ThisThread() { return static_cast<int>(GetCurrentThreadId()); }

// The category table is the process's: one test fills it, so the names the others use
// are registered before any test runs, whatever the order.
const bool g_categories_registered = [] {
  for (const char* name : {"base", "base,toplevel", "disabled-by-default-toplevel.flow"})
    TraceLog::GetCategoryGroupEnabled(name);
  return true;
}();

size_t CountOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++count;
  return count;
}

// A filter that adds an event "inner" of |phase| from inside the trace log.
struct ReentrantFilter : TraceEventFilter {
  explicit ReentrantFilter(char phase) : phase(phase) {}
  bool FilterTraceEvent(const TraceEvent&) const override {
    inner = TraceLog::GetInstance()->AddEvent(
        phase, TraceLog::GetCategoryGroupEnabled("toplevel"), "inner", nullptr, 0, 0,
        static_cast<int>(GetCurrentThreadId()), TimeTicks::Now(), 0, nullptr, nullptr, nullptr,
        nullptr, 0);
    ++calls;
    return true;
  }
  const char phase;
  mutable TraceEventHandle inner;
  mutable int calls = 0;
};

class TraceLogTest : public testing::Test {
 protected:
  void TearDown() override {
    log_->ResetForTesting();
    HeapContextTracker::SetCaptureMode(HeapContextTracker::CaptureMode::DISABLED);
  }

  void Record(const char* pattern, unsigned options = TraceLog::kRecordUntilFull,
              size_t max_chunks = 0) {
    TraceConfig config;
    config.category_filter.included_categories = {pattern};
    log_->SetEnabledForTesting(config, TraceLog::RECORDING_MODE, options, max_chunks);
  }

  // Filters "toplevel" through |predicates| in pseudo-stack mode; the calling thread's
  // heap-profiler context.
  HeapContextTracker* FilterIntoPseudoStack(std::initializer_list<const char*> predicates) {
    HeapContextTracker::SetCaptureMode(HeapContextTracker::CaptureMode::PSEUDO_STACK);
    TraceConfig config;
    for (const char* predicate : predicates) {
      config.event_filters.push_back(EventFilterConfig(predicate));
      config.event_filters.back().category_filter().included_categories = {"toplevel"};
    }
    log_->SetEnabledForTesting(config, TraceLog::FILTERING_MODE, TraceLog::kRecordUntilFull);
    return HeapContextTracker::ForCurrentThread();
  }

  TraceEventHandle Add(const char* category, const char* name, char phase = 'X',
                       unsigned flags = 0) {
    return log_->AddEvent(phase, TraceLog::GetCategoryGroupEnabled(category), name, nullptr, 0,
                          0, ThisThread(), TimeTicks::Now(), 0, nullptr, nullptr, nullptr,
                          nullptr, flags);
  }

  TraceLog* log_ = TraceLog::GetInstance();
};

TEST_F(TraceLogTest, OneInstanceAndItsProcessHash) {
  EXPECT_EQ(log_, TraceLog::GetInstance());
  uint64_t expected = (14695981039346656037ull ^ GetCurrentProcessId()) * 1099511628211ull;
  EXPECT_EQ(expected, log_->process_id_hash());
  EXPECT_TRUE(IsDumpProviderRegisteredForTesting("TraceLog"));
}

TEST_F(TraceLogTest, CategoriesAreDisabledAndStable) {
  const uint8_t* toplevel = TraceLog::GetCategoryGroupEnabled("toplevel");
  std::string copy = "toplevel";
  EXPECT_EQ(toplevel, TraceLog::GetCategoryGroupEnabled(copy.c_str()));
  const uint8_t* flow = TraceLog::GetCategoryGroupEnabled("disabled-by-default-toplevel.flow");
  EXPECT_NE(toplevel, flow);
  EXPECT_EQ(flow, TraceLog::GetCategoryGroupEnabled("disabled-by-default-toplevel.flow"));
  EXPECT_STREQ("disabled-by-default-toplevel.flow", TraceLog::GetCategoryGroupName(flow));
  EXPECT_EQ(0, *toplevel);
  EXPECT_EQ(0, *flow);
  EXPECT_EQ(0, *TraceLog::GetCategoryGroupEnabled("base"));
  EXPECT_EQ(0, *TraceLog::GetCategoryGroupEnabled("__metadata"));
}

TEST_F(TraceLogTest, RecordingSetsOnlyMatchingCategoriesAndMetadata) {
  Record("toplevel");
  EXPECT_EQ(TraceLog::ENABLED_FOR_RECORDING, *TraceLog::GetCategoryGroupEnabled("toplevel"));
  EXPECT_EQ(TraceLog::ENABLED_FOR_RECORDING, *TraceLog::GetCategoryGroupEnabled("__metadata"));
  EXPECT_EQ(0, *TraceLog::GetCategoryGroupEnabled("base"));
  EXPECT_EQ(0, *TraceLog::GetCategoryGroupEnabled("disabled-by-default-toplevel.flow"));
  // A name first seen while recording gets its state at once.
  EXPECT_EQ(TraceLog::ENABLED_FOR_RECORDING,
            *TraceLog::GetCategoryGroupEnabled("base,toplevel"));
  log_->ResetForTesting();
  EXPECT_EQ(0, *TraceLog::GetCategoryGroupEnabled("toplevel"));
}

TEST_F(TraceLogTest, TaskTraceSiteCallsTheLogOnlyWhileItsCategoryIsOn) {
  MessageLoop loop;
  auto run_one_task = [&loop] {
    RunLoop run_loop;
    loop.task_runner()->PostTask(FROM_HERE, run_loop.QuitClosure());
    run_loop.Run();
  };
  int calls = log_->add_event_calls_for_testing();
  run_one_task();
  EXPECT_EQ(calls, log_->add_event_calls_for_testing()) << "state byte 0: no call";
  EXPECT_EQ("", log_->RecordedEventsAsJsonForTesting());

  Record("toplevel");
  run_one_task();
  EXPECT_LT(calls, log_->add_event_calls_for_testing());
  std::string json = log_->RecordedEventsAsJsonForTesting();
  EXPECT_EQ(1u, CountOf(json, "\"name\":\"MessageLoop::RunTask\"")) << json;
  EXPECT_EQ(1u, CountOf(json, "\"dur\":")) << "ended when the task returned: " << json;
  EXPECT_EQ(1u, CountOf(json, "\"src_file\":")) << json;
}

TEST_F(TraceLogTest, ThreadsWithALoopFillTheirOwnChunk) {
  ASSERT_EQ(nullptr, MessageLoop::Current()) << "the test thread has no loop";
  Record("*");
  TraceEventHandle shared = Add("toplevel", "on the test thread");
  ASSERT_NE(0u, shared.chunk_seq);
  ASSERT_TRUE(log_->has_shared_chunk_for_testing());
  EXPECT_EQ(log_->shared_chunk_index_for_testing(), shared.chunk_index);

  TraceEventHandle from_plain_thread;
  std::thread plain([&] { from_plain_thread = Add("toplevel", "on a plain thread"); });
  plain.join();
  EXPECT_EQ(shared.chunk_seq, from_plain_thread.chunk_seq);
  EXPECT_EQ(shared.event_index + 1, from_plain_thread.event_index);

  TraceEventHandle from_loop_thread;
  {
    Thread thread("trace loop thread");
    ASSERT_TRUE(thread.Start());
    SyncEvent done(SyncEvent::MANUAL, SyncEvent::NOT_SIGNALED);
    thread.GetTaskRunner()->PostTask(FROM_HERE, Bind([&] {
                                       from_loop_thread = Add("toplevel", "on a loop thread");
                                       done.Signal();
                                     }));
    done.Wait();
    EXPECT_NE(0u, from_loop_thread.chunk_seq);
    EXPECT_NE(shared.chunk_index, from_loop_thread.chunk_index);
    EXPECT_EQ(1u, from_loop_thread.event_index) << "after the task's own event";
    EXPECT_EQ(nullptr, log_->GetEventByHandleForTesting(from_loop_thread))
        << "still held by its thread";
    thread.Stop();
  }
  // The loop's end gave its chunk back to the central buffer.
  TraceEvent* event = log_->GetEventByHandleForTesting(from_loop_thread);
  ASSERT_NE(nullptr, event);
  EXPECT_STREQ("on a loop thread", event->name());
}

TEST_F(TraceLogTest, CompleteEventsGetTheirDuration) {
  Record("toplevel");
  const uint8_t* category = TraceLog::GetCategoryGroupEnabled("toplevel");
  TraceEventHandle handle = Add("toplevel", "span");
  EXPECT_EQ(-1, log_->GetEventByHandleForTesting(handle)->duration());
  log_->UpdateTraceEventDuration(category, "span", handle);
  EXPECT_LE(0, log_->GetEventByHandleForTesting(handle)->duration());
  // The empty handle finds nothing and changes nothing.
  log_->UpdateTraceEventDuration(category, "span", TraceEventHandle());
}

class CountingObserver : public TraceLog::EnabledStateObserver {
 public:
  void OnTraceLogDisabled() override { ++disabled; }
  int disabled = 0;
};

class CountingAsyncObserver : public TraceLog::AsyncEnabledStateObserver {
 public:
  void OnTraceLogDisabled() override {
    EXPECT_EQ(loop, MessageLoop::Current());
    ++disabled;
  }
  MessageLoop* loop = nullptr;
  int disabled = 0;
};

TEST_F(TraceLogTest, FullBufferStopsRecordingOnceWithOverflowMetadata) {
  CountingObserver observer;
  log_->AddEnabledStateObserver(&observer);
  MessageLoop loop;
  CountingAsyncObserver async_observer;
  async_observer.loop = &loop;
  WeakPtrFactory<TraceLog::AsyncEnabledStateObserver> weak_factory(&async_observer);
  log_->AddAsyncEnabledStateObserver(weak_factory.GetWeakPtr());
  log_->SetProcessName("velum test");
  Record("toplevel", TraceLog::kRecordUntilFull, 2);
  const uint8_t* category = TraceLog::GetCategoryGroupEnabled("toplevel");
  int recorded = 0;
  for (int i = 0; i < 3 * 64; ++i) {
    if (Add("toplevel", "fill").chunk_seq != 0) ++recorded;
  }
  EXPECT_EQ(0, *category) << "recording stopped";
  EXPECT_EQ(1, observer.disabled);
  log_->SetDisabledForTesting();
  EXPECT_EQ(1, observer.disabled) << "stopping twice notifies once";
  log_->RemoveEnabledStateObserver(&observer);
  EXPECT_EQ(0, async_observer.disabled) << "told by a task";
  RunLoop run_loop;
  run_loop.QuitWhenIdle();
  run_loop.Run();
  EXPECT_EQ(1, async_observer.disabled);
  log_->RemoveAsyncEnabledStateObserver(&async_observer);

  std::string json = log_->RecordedEventsAsJsonForTesting();
  EXPECT_EQ(1u, CountOf(json, "\"name\":\"trace_buffer_overflowed\"")) << json;
  EXPECT_EQ(1u, CountOf(json, "\"name\":\"num_cpus\""));
  EXPECT_EQ(1u, CountOf(json, "\"args\":{\"name\":\"velum test\"}"));
  EXPECT_EQ(0u, CountOf(json, "\"overflowed_at_ts\":0}"));
  // The event that found the buffer full is still kept; later ones are not.
  EXPECT_EQ(65, recorded);
  EXPECT_EQ(65u, CountOf(json, "\"name\":\"fill\""));
}

// Stopping writes the metadata events into the shared chunk that the event which found
// the buffer full was about to use; however many there are, that event still gets a
// free slot.
TEST_F(TraceLogTest, MetadataFillingTheSharedChunkLeavesRoomForTheEvent) {
  const uint8_t* metadata = TraceLog::GetCategoryGroupEnabled("__metadata");
  for (int queued = 52; queued <= 66; ++queued) {
    Record("toplevel", TraceLog::kRecordUntilFull, 2);
    for (int i = 0; i < queued; ++i)
      log_->AddMetadataEvent(metadata, "queued", 0, nullptr, nullptr, nullptr, nullptr, 0);
    int recorded = 0;
    std::thread without_loop([&] {
      for (int i = 0; i < 2 * 64; ++i) {
        if (Add("toplevel", "fill").chunk_seq != 0) ++recorded;
      }
    });
    without_loop.join();
    EXPECT_EQ(65, recorded) << queued;
    std::string json = log_->RecordedEventsAsJsonForTesting();
    EXPECT_EQ(static_cast<size_t>(queued), CountOf(json, "\"name\":\"queued\"")) << queued;
    EXPECT_EQ(65u, CountOf(json, "\"name\":\"fill\"")) << queued;
    log_->ResetForTesting();
  }
}

TEST_F(TraceLogTest, ReentrantEventsAreIgnored) {
  ReentrantFilter* filter = new ReentrantFilter('I');
  log_->SetFilterFactoryForTesting([filter](const std::string& name) {
    EXPECT_EQ("reentrant", name);
    return std::unique_ptr<TraceEventFilter>(filter);
  });
  TraceConfig config;
  config.category_filter.included_categories = {"toplevel"};
  config.event_filters.push_back(EventFilterConfig("reentrant"));
  config.event_filters.back().category_filter().included_categories = {"toplevel"};
  log_->SetEnabledForTesting(config, TraceLog::RECORDING_MODE | TraceLog::FILTERING_MODE,
                             TraceLog::kRecordUntilFull);
  EXPECT_EQ(TraceLog::ENABLED_FOR_RECORDING | TraceLog::ENABLED_FOR_FILTERING,
            *TraceLog::GetCategoryGroupEnabled("toplevel"));
  TraceEventHandle outer = Add("toplevel", "outer");
  EXPECT_EQ(1, filter->calls);
  EXPECT_NE(0u, outer.chunk_seq);
  EXPECT_EQ(0u, filter->inner.chunk_seq);
  EXPECT_EQ(0u, filter->inner.chunk_index);
  EXPECT_EQ(0u, filter->inner.event_index);
}

TEST_F(TraceLogTest, WhitelistFilterPassesNamedEventsOnly) {
  TraceConfig config;
  config.category_filter.included_categories = {"toplevel"};
  EventFilterConfig whitelist("event_whitelist_predicate");
  whitelist.category_filter().included_categories = {"*"};
  std::unique_ptr<Dictionary> args = MakeDictionaryValue();
  std::unique_ptr<List> names = MakeListValue();
  names->AppendString("Wanted");
  args->SetWithoutPathExpansion("event_name_whitelist", std::move(names));
  whitelist.SetArgs(std::move(args));
  // No factory for this one: it passes nothing, and the whitelist still gets bit 1.
  config.event_filters.push_back(EventFilterConfig("unknown_predicate"));
  config.event_filters.back().category_filter().included_categories = {"*"};
  config.event_filters.push_back(whitelist);
  log_->SetEnabledForTesting(config, TraceLog::RECORDING_MODE | TraceLog::FILTERING_MODE,
                             TraceLog::kRecordUntilFull);

  std::string wanted = "Wanted";  // another buffer with the same text
  EXPECT_NE(0u, Add("toplevel", wanted.c_str()).chunk_seq);
  EXPECT_EQ(0u, Add("toplevel", "Unwanted").chunk_seq);
  // Filtering without recording: the category is filtered only.
  EXPECT_EQ(TraceLog::ENABLED_FOR_FILTERING, *TraceLog::GetCategoryGroupEnabled("base"));
  EXPECT_EQ(0u, Add("base", "Wanted").chunk_seq);
}

TEST_F(TraceLogTest, HeapProfilerFilterMirrorsSpans) {
  HeapContextTracker* tracker = FilterIntoPseudoStack({"heap_profiler_predicate"});
  ASSERT_NE(nullptr, tracker);
  const uint8_t* category = TraceLog::GetCategoryGroupEnabled("toplevel");
  const size_t depth = tracker->pseudo_stack().size();

  Add("toplevel", "span", 'B');
  ASSERT_EQ(depth + 1, tracker->pseudo_stack().size());
  EXPECT_STREQ("span", static_cast<const char*>(tracker->pseudo_stack().back().value));
  Add("toplevel", "copied", 'B', TRACE_EVENT_FLAG_COPY);
  EXPECT_EQ(depth + 1, tracker->pseudo_stack().size()) << "a copied name is not kept";
  Add("toplevel", "span", 'E');
  EXPECT_EQ(depth, tracker->pseudo_stack().size());

  TraceEventHandle complete = Add("toplevel", "complete", 'X');
  EXPECT_EQ(0u, complete.chunk_seq) << "filtering alone records nothing";
  EXPECT_EQ(depth + 1, tracker->pseudo_stack().size());
  // A copied complete event inside it pushed nothing, so its end pops nothing.
  Add("toplevel", "copied", 'X', TRACE_EVENT_FLAG_COPY);
  log_->UpdateTraceEventDuration(category, "copied", TraceEventHandle());
  ASSERT_EQ(depth + 1, tracker->pseudo_stack().size());
  EXPECT_STREQ("complete", static_cast<const char*>(tracker->pseudo_stack().back().value));
  log_->UpdateTraceEventDuration(category, "complete", complete);
  EXPECT_EQ(depth, tracker->pseudo_stack().size());
}

TEST_F(TraceLogTest, ReentrantCompleteEventLeavesTheEnclosingFrame) {
  // Begins a complete event from inside the trace log, which ignores it.
  ReentrantFilter* begin_inside = new ReentrantFilter('X');
  log_->SetFilterFactoryForTesting([begin_inside](const std::string&) {
    return std::unique_ptr<TraceEventFilter>(begin_inside);
  });
  HeapContextTracker* tracker = FilterIntoPseudoStack({"heap_profiler_predicate", "begin_inside"});
  ASSERT_NE(nullptr, tracker);
  const uint8_t* category = TraceLog::GetCategoryGroupEnabled("toplevel");
  const size_t depth = tracker->pseudo_stack().size();

  TraceEventHandle outer = Add("toplevel", "outer", 'X');
  ASSERT_EQ(depth + 1, tracker->pseudo_stack().size());
  // The inner event's end comes outside the trace log.
  log_->UpdateTraceEventDuration(category, "inner", begin_inside->inner);
  ASSERT_EQ(depth + 1, tracker->pseudo_stack().size());
  EXPECT_STREQ("outer", static_cast<const char*>(tracker->pseudo_stack().back().value));
  log_->UpdateTraceEventDuration(category, "outer", outer);
  EXPECT_EQ(depth, tracker->pseudo_stack().size());
}

TEST_F(TraceLogTest, ThreadNamesAccumulate) {
  int thread_id = 0;
  std::thread named([&] {
    thread_id = ThisThread();
    ThreadNameRegistry* registry = ThreadNameRegistry::Instance();
    for (const char* name : {"A", "A", "B", "A"}) {
      registry->SetName(GetCurrentThreadId(), name);
      Add("toplevel", "named");
    }
  });
  named.join();
  EXPECT_EQ("A,B", log_->thread_name_for_testing(thread_id));
}

TEST_F(TraceLogTest, MangledIdsDifferPerProcess) {
  Record("toplevel");
  TraceEventHandle handle = log_->AddEvent(
      'X', TraceLog::GetCategoryGroupEnabled("toplevel"), "flow", nullptr, 5, 6, ThisThread(),
      TimeTicks::Now(), 0, nullptr, nullptr, nullptr, nullptr,
      TRACE_EVENT_FLAG_HAS_ID | TRACE_EVENT_FLAG_MANGLE_ID | TRACE_EVENT_FLAG_FLOW_OUT);
  TraceEvent* event = log_->GetEventByHandleForTesting(handle);
  ASSERT_NE(nullptr, event);
  EXPECT_EQ(5 ^ log_->process_id_hash(), event->id());
  EXPECT_EQ(6 ^ log_->process_id_hash(), event->bind_id());
  uint64_t other_process = (14695981039346656037ull ^ (GetCurrentProcessId() + 4)) *
                           1099511628211ull;
  EXPECT_NE(5 ^ other_process, event->id());
}

std::vector<std::string>* g_log_lines = nullptr;

bool KeepLine(int, const char*, int, size_t message_start, const std::string& text) {
  std::string line = text.substr(message_start);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  g_log_lines->push_back(line);
  return true;
}

TEST_F(TraceLogTest, EchoToConsoleIndentsOpenSpans) {
  Record("toplevel", TraceLog::kEchoToConsole);
  const uint8_t* category = TraceLog::GetCategoryGroupEnabled("toplevel");
  std::vector<std::string> lines;
  g_log_lines = &lines;
  SetLogMessageHandler(&KeepLine);
  std::thread echoing([&] {
    ThreadNameRegistry::Instance()->SetName(GetCurrentThreadId(), "echo");
    TraceEventHandle outer = Add("toplevel", "outer");
    const char* names[] = {"n"};
    const uint8_t types[] = {TRACE_VALUE_TYPE_INT};
    const uint64_t values[] = {1};
    TraceEventHandle inner =
        log_->AddEvent('X', category, "inner", nullptr, 0, 0, ThisThread(), TimeTicks::Now(), 1,
                       names, types, values, nullptr, 0);
    log_->UpdateTraceEventDuration(category, "inner", inner);
    log_->UpdateTraceEventDuration(category, "outer", outer);
  });
  echoing.join();
  SetLogMessageHandler(nullptr);
  g_log_lines = nullptr;

  ASSERT_EQ(4u, lines.size());
  EXPECT_EQ("echo: \033[0;31mouter[toplevel]\033[0;m", lines[0]);
  EXPECT_EQ("echo: \033[0;31m| inner[toplevel], {n:1}\033[0;m", lines[1]);
  EXPECT_EQ(0u, lines[2].find("echo: \033[0;31m| inner[toplevel], {n:1} (")) << lines[2];
  EXPECT_EQ(0u, lines[3].find("echo: \033[0;31mouter[toplevel] (")) << lines[3];
  EXPECT_NE(std::string::npos, lines[3].find(" ms)\033[0;m")) << lines[3];
}

std::vector<std::string>* g_dump_names = nullptr;

void RecordDumpName(ProcessMemoryDump*, const std::string& dump_name, const char* entry,
                    const char*, uint64_t) {
  if (std::string(entry) == "object_count") g_dump_names->push_back(dump_name);
}

TEST_F(TraceLogTest, OwnMemoryDump) {
  std::vector<std::string> names;
  g_dump_names = &names;
  const MemoryDumpManagerFunctions fake = {nullptr, nullptr, &RecordDumpName};
  SetMemoryDumpManagerFunctions(&fake);
  EXPECT_TRUE(log_->OnMemoryDump(MemoryDumpArgs(), nullptr));
  SetMemoryDumpManagerFunctions(nullptr);
  g_dump_names = nullptr;
  for (const char* expected :
       {"tracing/main_trace_log/TraceLog", "tracing/main_trace_log/TraceBufferVector",
        "tracing/main_trace_log/TraceEventMemoryOverhead"}) {
    EXPECT_EQ(1, std::count(names.begin(), names.end(), expected)) << expected;
  }
}

// Counts the allocations of one thread made outside any heap-profiler ignore scope.
std::atomic<DWORD> g_watched_thread{0};
std::atomic<int> g_unignored_allocations{0};

void NoteAllocation() {
  if (GetCurrentThreadId() != g_watched_thread.load()) return;
  HeapContextTracker* tracker = HeapContextTracker::ForCurrentThread();
  if (tracker && tracker->ignore_depth() == 0) ++g_unignored_allocations;
}

using allocator::AllocatorDispatch;

void* WatchAlloc(const AllocatorDispatch* self, size_t size, void* context) {
  NoteAllocation();
  return self->next->alloc_function(self->next, size, context);
}
void* WatchAllocZero(const AllocatorDispatch* self, size_t count, size_t size, void* context) {
  NoteAllocation();
  return self->next->alloc_zero_initialized_function(self->next, count, size, context);
}
void* WatchAllocAligned(const AllocatorDispatch* self, size_t alignment, size_t size,
                        void* context) {
  NoteAllocation();
  return self->next->alloc_aligned_function(self->next, alignment, size, context);
}
void* WatchRealloc(const AllocatorDispatch* self, void* address, size_t size, void* context) {
  NoteAllocation();
  return self->next->realloc_function(self->next, address, size, context);
}
void WatchFree(const AllocatorDispatch* self, void* address, void* context) {
  self->next->free_function(self->next, address, context);
}
size_t WatchSize(const AllocatorDispatch* self, void* address, void* context) {
  return self->next->get_size_estimate_function(self->next, address, context);
}
AllocatorDispatch g_watch_dispatch = {&WatchAlloc,   &WatchAllocZero, &WatchAllocAligned,
                                      &WatchRealloc, &WatchFree,      &WatchSize,
                                      nullptr};

bool SwallowLine(int, const char*, int, size_t, const std::string&) { return true; }

// Defined before the test that fills the category table, so a new name still finds room.
TEST_F(TraceLogTest, OwnAllocationsAreHiddenFromTheHeapProfiler) {
  HeapContextTracker::SetCaptureMode(HeapContextTracker::CaptureMode::PSEUDO_STACK);
  ASSERT_NE(nullptr, HeapContextTracker::ForCurrentThread());
  ASSERT_LT(TraceLog::GetCategoryCount(), TraceLog::kMaxCategories);
  const uint8_t* category = TraceLog::GetCategoryGroupEnabled("toplevel");
  log_->SetProcessName("copied into a metadata event");
  Record("toplevel", TraceLog::kEchoToConsole);
  const TraceEventHandle open = Add("toplevel", "span");
  std::unique_ptr<TraceBuffer> vector = TraceBuffer::CreateTraceBufferVectorOfSize(4);
  static const char kTypes[20][4] = {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j",
                                     "k", "l", "m", "n", "o", "p", "q", "r", "s", "t"};
  TraceEventMemoryOverhead overhead;
  std::unique_ptr<TraceBufferChunk> chunk;
  size_t index = 0;
  struct Step {
    const char* name;
    std::function<void()> run;
  };
  const Step steps[] = {
      {"a new category", [] { TraceLog::GetCategoryGroupEnabled("heap.profiler.new"); }},
      {"ending a complete event echoed to the console",
       [&] { log_->UpdateTraceEventDuration(category, "span", open); }},
      {"the trace log's memory dump",
       [&] { EXPECT_TRUE(log_->OnMemoryDump(MemoryDumpArgs(), nullptr)); }},
      {"stopping with metadata events", [&] { log_->SetDisabledForTesting(); }},
      {"a buffer's new chunk", [&] { chunk = vector->GetChunk(&index); }},
      {"an overhead record past its inline entries",
       [&] {
         for (const char* type : kTypes) overhead.Add(type, 1, 1, 1);
       }},
  };
  SetLogMessageHandler(&SwallowLine);
  allocator::InsertAllocatorDispatch(&g_watch_dispatch);
  for (const Step& step : steps) {
    g_unignored_allocations = 0;
    g_watched_thread = GetCurrentThreadId();
    step.run();
    g_watched_thread = 0;
    EXPECT_EQ(0, g_unignored_allocations.load()) << step.name;
  }
  EXPECT_TRUE(allocator::RemoveAllocatorDispatchForTesting(&g_watch_dispatch));
  SetLogMessageHandler(nullptr);
}

TEST_F(TraceLogTest, FullTableGivesTheExhaustedEntry) {
  for (int i = 0; TraceLog::GetCategoryCount() < TraceLog::kMaxCategories; ++i) {
    std::string name = "test.category." + std::to_string(i);
    const uint8_t* state = TraceLog::GetCategoryGroupEnabled(name.c_str());
    EXPECT_STREQ(name.c_str(), TraceLog::GetCategoryGroupName(state));
  }
  const uint8_t* exhausted = TraceLog::GetCategoryGroupEnabled("one.too.many");
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
  while (!tracker->pseudo_stack().empty()) tracker->PopPseudoStackFrame();

  {
    HeapProfilerScopedIgnore ignored_while_disabled;
    EXPECT_EQ(0u, tracker->ignore_depth());
  }
  HeapContextTracker::SetCaptureMode(HeapContextTracker::CaptureMode::PSEUDO_STACK);
  {
    HeapProfilerScopedIgnore ignored;
    EXPECT_EQ(1u, tracker->ignore_depth());
  }
  EXPECT_EQ(0u, tracker->ignore_depth());
  HeapContextTracker::SetCaptureMode(HeapContextTracker::CaptureMode::DISABLED);
}

}  // namespace
}  // namespace trace_event
}  // namespace base
