#include "base/trace_event/heap_profiler_event_filter.h"

#include <vector>

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

void HeapProfilerEventFilter::EndEvent(const char*, const char* event_name) const {
  HeapContextTracker* tracker = PseudoStackTracker();
  if (!tracker) return;
  // Only the frame this event's begin pushed: a complete event with a copied name, one
  // begun re-entrantly or past the depth limit pushed none, and must not take its
  // enclosing event's frame.
  const std::vector<HeapContextTracker::StackFrame>& stack = tracker->pseudo_stack();
  if (!stack.empty() && stack.back().type == HeapContextTracker::StackFrame::TRACE_EVENT_NAME &&
      stack.back().value == event_name)
    tracker->PopPseudoStackFrame();
}

}  // namespace trace_event
}  // namespace base
