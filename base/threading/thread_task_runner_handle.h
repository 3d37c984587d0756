// CurrentThreadTaskRunner: while it exists, code on its thread finds the thread's task
// runner through Get(). The thread's MessageLoop creates and destroys it.
#ifndef BASE_THREADING_THREAD_TASK_RUNNER_HANDLE_H_
#define BASE_THREADING_THREAD_TASK_RUNNER_HANDLE_H_

#include "base/memory/ref_counted.h"
#include "base/sequenced_task_runner.h"

namespace base {

class CurrentThreadTaskRunner {
 public:
  // Publishes |task_runner| as the calling thread's runner.
  explicit CurrentThreadTaskRunner(scoped_refptr<SequencedTaskRunner> task_runner);
  // Clears the thread's runner.
  ~CurrentThreadTaskRunner();
  CurrentThreadTaskRunner(const CurrentThreadTaskRunner&) = delete;
  CurrentThreadTaskRunner& operator=(const CurrentThreadTaskRunner&) = delete;

  // The calling thread's runner; the thread must have one (IsSet).
  static scoped_refptr<SequencedTaskRunner> Get();
  static bool IsSet();

 private:
  scoped_refptr<SequencedTaskRunner> task_runner_;
};

}  // namespace base

#endif  // BASE_THREADING_THREAD_TASK_RUNNER_HANDLE_H_
