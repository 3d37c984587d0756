// The task runner of a MessageLoop: what posters on any thread hold.
#ifndef BASE_MESSAGE_LOOP_MESSAGE_LOOP_TASK_RUNNER_H_
#define BASE_MESSAGE_LOOP_MESSAGE_LOOP_TASK_RUNNER_H_

#include <windows.h>

#include "base/memory/ref_counted.h"
#include "base/sequenced_task_runner.h"
#include "base/synchronization/lock.h"

namespace base {

class IncomingQueue;

class MessageLoopTaskRunner : public SequencedTaskRunner {
 public:
  explicit MessageLoopTaskRunner(scoped_refptr<IncomingQueue> incoming_queue);
  MessageLoopTaskRunner(const MessageLoopTaskRunner&) = delete;
  MessageLoopTaskRunner& operator=(const MessageLoopTaskRunner&) = delete;

  // From now on the calling thread is the one that runs the tasks.
  void BindToCurrentThread();

  [[nodiscard]] bool PostDelayedTask(const Location& posted_from, Closure task,
                       TimeDelta delay) override;
  bool RunsTasksOnCurrentThread() const override;
  [[nodiscard]] bool PostNonNestableDelayedTask(const Location& posted_from, Closure task,
                                  TimeDelta delay) override;

 private:
  ~MessageLoopTaskRunner() override;

  scoped_refptr<IncomingQueue> incoming_queue_;
  // 0 until bound.
  DWORD valid_thread_id_ = 0;
  mutable Lock valid_thread_id_lock_;
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_MESSAGE_LOOP_TASK_RUNNER_H_
