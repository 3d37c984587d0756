#include "base/trace_event/heap_profiler_event_filter.h"

#include "base/trace_event/heap_context_tracker.h"
#include "base/trace_event/trace_event.h"

namespace base {
namespace trace_event {

namespace {

HeapContextTracker* PseudoStackTracker() {
  if (HeapContextTracker::capture_mode() != HeapContextTracker::CaptureMode::PSEUDO_STACK)
    return nullptr;
  return HeapContextTracker::ForCurrentThread();
}

}  // namespace

const char HeapProfilerEventFilter::kName[] = "heap_profiler_predicate";

HeapProfilerEventFilter::HeapProfilerEventFilter() = default;
HeapProfilerEventFilter::~HeapProfilerEventFilter() = default;

bool HeapProfilerEventFilter::FilterTraceEvent(const TraceEvent& event) const {
  // A copied name dies with its event, so the stack cannot point at it.
  if (event.flags() & TRACE_EVENT_FLAG_COPY) return true;
  HeapContextTracker* tracker = PseudoStackTracker();
  if (!tracker) return true;
  if (event.phase() == 'B' || event.phase() == 'X')
    tracker->PushPseudoStackFrame(
        {HeapContextTracker::StackFrame::TRACE_EVENT_NAME, event.name()});
  else if (event.phase() == 'E')
    tracker->PopPseudoStackFrame();
  return true;
}

void HeapProfilerEventFilter::EndEvent(const char*, const char*) const {
  if (HeapContextTracker* tracker = PseudoStackTracker()) tracker->PopPseudoStackFrame();
}

}  // namespace trace_event
}  // namespace base
