// Traces and times every task a loop queues and runs. Stateless: a task's trace flow is
// named by its sequence number and the tracer's address.
#ifndef BASE_MESSAGE_LOOP_TASK_TRACER_H_
#define BASE_MESSAGE_LOOP_TASK_TRACER_H_

#include <stdint.h>

namespace base {

struct PendingTask;

class TaskTracer {
 public:
  TaskTracer() = default;
  TaskTracer(const TaskTracer&) = delete;
  TaskTracer& operator=(const TaskTracer&) = delete;

  // Called when |pending_task| has been numbered and queued by |queue_function|.
  void DidQueueTask(const char* queue_function, const PendingTask& pending_task);

  // Runs the task's callback (and releases it), with its statistics and trace events.
  void RunTask(const char* queue_function, PendingTask* pending_task);

 private:
  uint64_t GetTaskTraceId(const PendingTask& pending_task) const;
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_TASK_TRACER_H_
