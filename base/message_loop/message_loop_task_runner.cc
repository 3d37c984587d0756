#include "base/message_loop/message_loop_task_runner.h"

#include <utility>

#include "base/message_loop/incoming_task_queue.h"

namespace base {

MessageLoopTaskRunner::MessageLoopTaskRunner(scoped_refptr<IncomingQueue> incoming_queue)
    : incoming_queue_(std::move(incoming_queue)) {}

MessageLoopTaskRunner::~MessageLoopTaskRunner() = default;

void MessageLoopTaskRunner::BindToCurrentThread() {
  AutoLock locked(valid_thread_id_lock_);
  valid_thread_id_ = GetCurrentThreadId();
}

bool MessageLoopTaskRunner::PostDelayedTask(const Location& posted_from, Closure task,
                                            TimeDelta delay) {
  return incoming_queue_->AddToIncomingQueue(posted_from, std::move(task), delay, true);
}

bool MessageLoopTaskRunner::PostNonNestableDelayedTask(const Location& posted_from,
                                                       Closure task, TimeDelta delay) {
  return incoming_queue_->AddToIncomingQueue(posted_from, std::move(task), delay, false);
}

bool MessageLoopTaskRunner::RunsTasksOnCurrentThread() const {
  AutoLock locked(valid_thread_id_lock_);
  return valid_thread_id_ == GetCurrentThreadId();
}

}  // namespace base
