#include "base/message_loop/task_tracer.h"

#include <utility>

#include "base/message_loop/pending_task.h"
#include "base/tracked_objects.h"

namespace base {

void TaskTracer::DidQueueTask(const char* /*queue_function*/,
                              const PendingTask& /*pending_task*/) {}

void TaskTracer::RunTask(const char* /*queue_function*/, PendingTask* pending_task) {
  TaskStopwatch stopwatch;
  stopwatch.Start();

  // Kept on the stack so that a crash dump shows where the task came from.
  const void* task_backtrace[5];
  task_backtrace[0] = pending_task->posted_from.program_counter();
  for (size_t i = 0; i < pending_task->task_backtrace.size(); ++i)
    task_backtrace[i + 1] = pending_task->task_backtrace[i];
  __asm__ __volatile__("" : : "r"(task_backtrace) : "memory");

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
