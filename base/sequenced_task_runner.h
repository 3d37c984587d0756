// SequencedTaskRunner: a TaskRunner whose tasks run one at a time in posting order, and
// which can hold back tasks that must not run inside a nested run loop.
#ifndef BASE_SEQUENCED_TASK_RUNNER_H_
#define BASE_SEQUENCED_TASK_RUNNER_H_

#include "base/task_runner.h"

namespace base {

class SequencedTaskRunner : public TaskRunner {
 public:
  // As PostDelayedTask, but the task never runs inside a nested run loop.
  virtual bool PostNonNestableDelayedTask(const Location& posted_from, Closure task,
                                          TimeDelta delay) = 0;

  bool PostNonNestableTask(const Location& posted_from, Closure task);

  // Deletes |object| later on this runner, outside any nested run loop.
  template <class T>
  void DeleteSoon(const Location& posted_from, const T* object) {
    DeleteSoonInternal(posted_from, &DeleteObject<T>, object);
  }

 protected:
  ~SequencedTaskRunner() override = default;

 private:
  template <class T>
  static void DeleteObject(const void* object) {
    delete static_cast<const T*>(object);
  }

  void DeleteSoonInternal(const Location& posted_from, void (*deleter)(const void*),
                          const void* object);
};

}  // namespace base

#endif  // BASE_SEQUENCED_TASK_RUNNER_H_
