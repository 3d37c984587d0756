#include "base/message_loop/incoming_task_queue.h"

#include <utility>

#include "base/logging.h"
#include "base/message_loop/message_loop.h"

namespace base {

namespace {

// Delays below this many milliseconds make the loop ask for the fine timer period.
const int64_t kHighResolutionDelayLimitMs = 32;

// Holds an SRW lock in shared mode for a scope.
class AutoReadLock {
 public:
  explicit AutoReadLock(SRWLOCK* lock) : lock_(lock) { AcquireSRWLockShared(lock_); }
  ~AutoReadLock() { ReleaseSRWLockShared(lock_); }
  AutoReadLock(const AutoReadLock&) = delete;
  AutoReadLock& operator=(const AutoReadLock&) = delete;

 private:
  SRWLOCK* lock_;
};

}  // namespace

IncomingQueue::IncomingQueue(MessageLoop* message_loop) : message_loop_(message_loop) {}

IncomingQueue::~IncomingQueue() = default;

bool IncomingQueue::AddToIncomingQueue(const Location& posted_from, Closure task,
                                       TimeDelta delay, bool nestable) {
  CHECK(!task.is_null()) << posted_from.function_name();
  TimeTicks delayed_run_time;
  if (delay > TimeDelta())
    delayed_run_time = TimeTicks::Now() + delay;
  PendingTask pending_task(posted_from, std::move(task), delayed_run_time, nestable);
  pending_task.is_high_res = delay > TimeDelta() && delay != TimeDelta::Max() &&
                             delay.InMilliseconds() < kHighResolutionDelayLimitMs;
  // A refused task is released here, on the posting thread, outside the locks.
  return PostPendingTask(&pending_task);
}

bool IncomingQueue::PostPendingTask(PendingTask* pending_task) {
  // Keeps the loop, and so its pump, alive until the wake-up below is done.
  AutoReadLock loop_lock(&message_loop_lock_);
  if (!message_loop_) {
    // Released by the caller after the lock is dropped: its destructors may post again.
    return false;
  }

  bool schedule_work = false;
  {
    AutoLock queue_lock(incoming_queue_lock_);
    if (pending_task->is_high_res)
      ++high_res_task_count_;
    pending_task->sequence_num = next_sequence_num_++;
    message_loop_->task_tracer_.DidQueueTask("MessageLoop::PostTask", *pending_task);
    bool was_empty = incoming_queue_.empty();
    incoming_queue_.push(std::move(*pending_task));
    if (is_ready_for_scheduling_ && !message_loop_scheduled_ && was_empty) {
      message_loop_scheduled_ = true;
      schedule_work = true;
    }
  }
  // Outside the queue lock, so that other posters are not held up by the wake-up.
  if (schedule_work)
    message_loop_->ScheduleWork();
  return true;
}

int IncomingQueue::ReloadWorkQueue(TaskQueue* work_queue) {
  DCHECK(work_queue->empty());
  AutoLock queue_lock(incoming_queue_lock_);
  if (incoming_queue_.empty()) {
    // The next post wakes the pump again.
    message_loop_scheduled_ = false;
  } else {
    incoming_queue_.swap(*work_queue);
  }
  int high_res_tasks = high_res_task_count_;
  high_res_task_count_ = 0;
  return high_res_tasks;
}

void IncomingQueue::StartScheduling() {
  bool schedule_work;
  {
    AutoLock queue_lock(incoming_queue_lock_);
    is_ready_for_scheduling_ = true;
    schedule_work = !incoming_queue_.empty() && !message_loop_scheduled_;
    if (schedule_work)
      message_loop_scheduled_ = true;
  }
  if (schedule_work) {
    AutoReadLock loop_lock(&message_loop_lock_);
    if (message_loop_)
      message_loop_->ScheduleWork();
  }
}

void IncomingQueue::WillDestroyCurrentMessageLoop() {
  AcquireSRWLockExclusive(&message_loop_lock_);
  message_loop_ = nullptr;
  ReleaseSRWLockExclusive(&message_loop_lock_);
}

}  // namespace base
