#include "base/threading/sequenced_task_runner_handle.h"

#include "base/threading/thread_task_runner_handle.h"

namespace base {

// static
scoped_refptr<SequencedTaskRunner> CurrentSequenceTaskRunner::Get() {
  return CurrentThreadTaskRunner::Get();
}

}  // namespace base
