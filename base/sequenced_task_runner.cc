#include "base/sequenced_task_runner.h"

#include "base/bind.h"

namespace base {

bool SequencedTaskRunner::PostNonNestableTask(const Location& posted_from, Closure task) {
  return PostNonNestableDelayedTask(posted_from, std::move(task), TimeDelta());
}

void SequencedTaskRunner::DeleteSoonInternal(const Location& posted_from,
                                             void (*deleter)(const void*),
                                             const void* object) {
  PostNonNestableDelayedTask(posted_from, Bind(deleter, object), TimeDelta());
}

}  // namespace base
