// TaskRunner: the interface through which tasks are posted to a thread or sequence.
//
//   task_runner->PostTask(FROM_HERE, base::Bind(&Job::Run, job));
//   task_runner->PostTaskAndReply(FROM_HERE, work, done);   // done runs back here
#ifndef BASE_TASK_RUNNER_H_
#define BASE_TASK_RUNNER_H_

#include "base/callback.h"
#include "base/location.h"
#include "base/memory/ref_counted.h"
#include "base/time/time.h"

namespace base {

class TaskRunner;

// Destruction goes through the runner's own OnDestruct.
struct TaskRunnerTraits {
  static void Destruct(const TaskRunner* task_runner);
};

class TaskRunner : public RefCountedThreadSafe<TaskRunner, TaskRunnerTraits> {
 public:
  // Runs |task| after |delay| (or soon, for a zero delay). False when the runner refuses
  // it; the task is then released. The posting functions are not [[nodiscard]]: a runner
  // refuses only once its thread has ended, when the poster's work has ended with it, so
  // a caller checks the result only where a refused task would lose what it carries.
  virtual bool PostDelayedTask(const Location& posted_from, Closure task,
                               TimeDelta delay) = 0;
  virtual bool RunsTasksOnCurrentThread() const = 0;

  bool PostTask(const Location& posted_from, Closure task);

  // Runs |task| on this runner, then |reply| on the calling thread's sequence. False,
  // with both released, when the task cannot be posted.
  bool PostTaskAndReply(const Location& posted_from, Closure task, Closure reply);

  TaskRunner(const TaskRunner&) = delete;
  TaskRunner& operator=(const TaskRunner&) = delete;

 protected:
  friend struct TaskRunnerTraits;

  TaskRunner();
  virtual ~TaskRunner();

  // Called at the last release; deletes the runner.
  virtual void OnDestruct() const;
};

}  // namespace base

#endif  // BASE_TASK_RUNNER_H_
