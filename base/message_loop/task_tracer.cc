#include "base/message_loop/task_tracer.h"

#include <utility>

#include "base/debug/activity_tracker.h"
#include "base/debug/alias.h"
#include "base/message_loop/pending_task.h"
#include "base/message_loop/scoped_trace_event.h"
#include "base/trace_event/trace_log.h"
#include "base/tracked_objects.h"

namespace base {

namespace {

const char kFlowCategory[] = "disabled-by-default-toplevel.flow";
// The event carries an id.
const unsigned kFlagHasId = 2;

const uint8_t* FlowCategory() {
  static const uint8_t* category = trace_event::TraceLog::GetCategoryGroupEnabled(kFlowCategory);
  return category;
}

}  // namespace

void TaskTracer::DidQueueTask(const char* queue_function, const PendingTask& pending_task) {
  internal::ScopedTraceEvent::AddInstant(
      FlowCategory(), queue_function, GetTaskTraceId(pending_task),
      kFlagHasId | trace_event::TraceLog::kFlagMangleId | trace_event::TraceLog::kFlagFlowOut);
}

void TaskTracer::RunTask(const char* queue_function, PendingTask* pending_task) {
  debug::TaskActivityScope activity(pending_task->posted_from.program_counter(), *pending_task);

  TaskStopwatch stopwatch;
  stopwatch.Start();
  int32_t queue_duration =
      static_cast<int32_t>(stopwatch.StartTime() - pending_task->EffectivePostTime());
  internal::ScopedTraceEvent event(
      FlowCategory(), queue_function, GetTaskTraceId(*pending_task),
      kFlagHasId | trace_event::TraceLog::kFlagMangleId | trace_event::TraceLog::kFlagFlowIn,
      {internal::TraceArg::Int("queue_duration", queue_duration)});

  // Kept on the stack so that a crash dump shows where the task came from.
  const void* task_backtrace[5];
  task_backtrace[0] = pending_task->posted_from.program_counter();
  for (size_t i = 0; i < pending_task->task_backtrace.size(); ++i)
    task_backtrace[i + 1] = pending_task->task_backtrace[i];
  debug::AliasForCrashDump(task_backtrace);

  {
    Closure task = std::move(pending_task->task);
    task.Run();
  }

  stopwatch.Stop();
  if (pending_task->birth_tally)
    TrackedThreadData::TallyRunOnNamedThread(*pending_task, stopwatch,
                                             pending_task->birth_tally);
}

uint64_t TaskTracer::GetTaskTraceId(const PendingTask& pending_task) const {
  return (static_cast<uint64_t>(static_cast<uint32_t>(pending_task.sequence_num)) << 32) |
         (reinterpret_cast<uintptr_t>(this) & 0xFFFFFFFFu);
}

}  // namespace base
