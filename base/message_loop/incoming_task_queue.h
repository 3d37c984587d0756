// The thread-safe front door of a MessageLoop: any thread adds tasks here; the loop's
// thread takes the whole queue at once. Many posts cost one wake-up of the pump.
#ifndef BASE_MESSAGE_LOOP_INCOMING_TASK_QUEUE_H_
#define BASE_MESSAGE_LOOP_INCOMING_TASK_QUEUE_H_

#include <windows.h>

#include "base/callback.h"
#include "base/location.h"
#include "base/memory/ref_counted.h"
#include "base/message_loop/pending_task.h"
#include "base/synchronization/lock.h"
#include "base/time/time.h"

namespace base {

class MessageLoop;

class IncomingQueue : public RefCountedThreadSafe<IncomingQueue> {
 public:
  explicit IncomingQueue(MessageLoop* message_loop);
  IncomingQueue(const IncomingQueue&) = delete;
  IncomingQueue& operator=(const IncomingQueue&) = delete;

  // Queues |task| to run after |delay|. False, with the task released on this thread,
  // once the loop is gone.
  [[nodiscard]] bool AddToIncomingQueue(const Location& posted_from, Closure task, TimeDelta delay,
                          bool nestable);

  // Loop thread: moves every queued task into the empty |work_queue|. Returns the
  // number of high-resolution tasks posted since the last reload.
  int ReloadWorkQueue(TaskQueue* work_queue);

  // The loop is bound: from now on the pump is woken.
  void StartScheduling();

  // The loop is being destroyed: posts fail from now on.
  void WillDestroyCurrentMessageLoop();

 private:
  friend class RefCountedThreadSafe<IncomingQueue>;
  ~IncomingQueue();

  // Numbers the task, queues it and wakes the pump when it is the first one.
  [[nodiscard]] bool PostPendingTask(PendingTask* pending_task);

  // Guarded by incoming_queue_lock_.
  int high_res_task_count_ = 0;
  Lock incoming_queue_lock_;
  // Posters hold it shared for the whole post, including the pump wake-up; the loop's
  // destructor takes it exclusive to clear message_loop_. Taken before the queue lock.
  SRWLOCK message_loop_lock_ = SRWLOCK_INIT;
  TaskQueue incoming_queue_;
  MessageLoop* message_loop_;
  int next_sequence_num_ = 0;
  // True while a wake-up of the pump is outstanding.
  bool message_loop_scheduled_ = false;
  bool is_ready_for_scheduling_ = false;
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_INCOMING_TASK_QUEUE_H_
