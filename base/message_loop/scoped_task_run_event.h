// What every runner of tasks (message loop, worker pool, thread-pool work item) opens
// around one task: the "toplevel" complete event with the posting site, and the posting
// file as the heap profiler's task context while it captures.
//
//   internal::ScopedTaskRunEvent scope("MessageLoop::RunTask", task.posted_from);
#ifndef BASE_MESSAGE_LOOP_SCOPED_TASK_RUN_EVENT_H_
#define BASE_MESSAGE_LOOP_SCOPED_TASK_RUN_EVENT_H_

#include "base/location.h"
#include "base/message_loop/scoped_trace_event.h"
#include "base/trace_event/heap_context_tracker.h"

namespace base {
namespace internal {

class ScopedTaskRunEvent {
 public:
  ScopedTaskRunEvent(const char* name, const Location& posted_from);
  ~ScopedTaskRunEvent();
  ScopedTaskRunEvent(const ScopedTaskRunEvent&) = delete;
  ScopedTaskRunEvent& operator=(const ScopedTaskRunEvent&) = delete;

 private:
  ScopedTraceEvent event_;
  trace_event::HeapContextTracker* heap_context_ = nullptr;
};

}  // namespace internal
}  // namespace base

#endif  // BASE_MESSAGE_LOOP_SCOPED_TASK_RUN_EVENT_H_
