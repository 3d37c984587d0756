// One-off background work on the Windows thread pool, traced and timed like loop tasks.
//
//   WorkerPool::PostTaskAndReply(FROM_HERE, Bind(&Cleanup::Run, cleanup),
//                                Bind(&Owner::OnCleanedUp, weak_ptr), false);
#ifndef BASE_THREADING_WORKER_POOL_H_
#define BASE_THREADING_WORKER_POOL_H_

#include <windows.h>

#include "base/callback.h"
#include "base/location.h"

namespace base {

// Runs |task| on a thread-pool thread; |task_is_slow| lets the pool add threads for it.
// False, with the task released unrun, when the system refuses the work item.
[[nodiscard]] bool QueueWorkItem(const Location& from_here, Closure task, bool task_is_slow);

class WorkerPool {
 public:
  // Runs |task| on the pool, then |reply| on the calling thread's sequence. False, with
  // both released, when the task cannot be queued.
  [[nodiscard]] static bool PostTaskAndReply(const Location& from_here, Closure task, Closure reply,
                               bool task_is_slow);

  // True while the calling thread runs a work item of this pool.
  static bool RunsTasksOnCurrentThread();

  // The system call that queues work items; tests replace it (null restores it).
  typedef BOOL(WINAPI* QueueUserWorkItemFunction)(LPTHREAD_START_ROUTINE function,
                                                  PVOID context, ULONG flags);
  static void SetQueueUserWorkItemFunctionForTesting(QueueUserWorkItemFunction function);

  WorkerPool() = delete;
};

}  // namespace base

#endif  // BASE_THREADING_WORKER_POOL_H_
