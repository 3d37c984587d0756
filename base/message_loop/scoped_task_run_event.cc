#include "base/message_loop/scoped_task_run_event.h"

#include "base/trace_event/trace_log.h"

namespace base {
namespace internal {

namespace {

const uint8_t* ToplevelCategory() {
  static const uint8_t* category = trace_event::TraceLog::GetCategoryGroupEnabled("toplevel");
  return category;
}

}  // namespace

ScopedTaskRunEvent::ScopedTaskRunEvent(const char* name, const Location& posted_from)
    : event_(ToplevelCategory(), name, 0, 0,
             {TraceArg::String("src_file", posted_from.file_name()),
              TraceArg::String("src_func", posted_from.function_name())}) {
  if (trace_event::HeapContextTracker::capture_mode() !=
      trace_event::HeapContextTracker::CaptureMode::DISABLED) {
    heap_context_ = trace_event::HeapContextTracker::ForCurrentThread();
    if (heap_context_)
      heap_context_->PushTaskContext(posted_from.file_name());
  }
}

ScopedTaskRunEvent::~ScopedTaskRunEvent() {
  if (heap_context_)
    heap_context_->PopTaskContext();
}

}  // namespace internal
}  // namespace base
