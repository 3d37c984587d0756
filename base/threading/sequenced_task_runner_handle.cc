#include "base/threading/sequenced_task_runner_handle.h"

#include "base/threading/sequenced_worker_pool.h"
#include "base/threading/thread_task_runner_handle.h"

namespace base {

// static
scoped_refptr<SequencedTaskRunner> CurrentSequenceTaskRunner::Get() {
  // A pool task posts to its own sequence.
  scoped_refptr<SequencedTaskRunner> pool_runner =
      SequencedWorkerPool::GetSequencedTaskRunnerForCurrentWorker();
  if (pool_runner)
    return pool_runner;
  return CurrentThreadTaskRunner::Get();
}

}  // namespace base
