// CurrentSequenceTaskRunner: the runner of the sequence the calling code runs on (today
// the thread's runner; on a worker-pool thread the pool's sequence runner).
#ifndef BASE_THREADING_SEQUENCED_TASK_RUNNER_HANDLE_H_
#define BASE_THREADING_SEQUENCED_TASK_RUNNER_HANDLE_H_

#include "base/memory/ref_counted.h"
#include "base/sequenced_task_runner.h"

namespace base {

class CurrentSequenceTaskRunner {
 public:
  // The calling sequence's runner. The thread must run a MessageLoop.
  static scoped_refptr<SequencedTaskRunner> Get();

  CurrentSequenceTaskRunner() = delete;
};

}  // namespace base

#endif  // BASE_THREADING_SEQUENCED_TASK_RUNNER_HANDLE_H_
