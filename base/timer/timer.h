// Timer: runs a task once, a delay after it was started, on the thread that started it.
// Starting it again before it fires moves the run time without flooding the queue: the
// task already posted is reused whenever it is due no later than the new run time.
//
//   timer_.Start(FROM_HERE, TimeDelta::FromSeconds(10),
//                Bind(&Writer::DoScheduledWrite, weak_factory_.GetWeakPtr()));
#ifndef BASE_TIMER_TIMER_H_
#define BASE_TIMER_TIMER_H_

#include <windows.h>

#include "base/callback.h"
#include "base/location.h"
#include "base/memory/ref_counted.h"
#include "base/sequenced_task_runner.h"
#include "base/time/time.h"

namespace base {

class Timer {
 public:
  Timer();
  // Abandons a posted task; it does nothing when it runs.
  virtual ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  virtual bool IsRunning() const;
  virtual TimeDelta GetCurrentDelay() const;
  // Posts to |task_runner| instead of the current thread's runner.
  virtual void SetTaskRunner(scoped_refptr<SequencedTaskRunner> task_runner);
  // Runs |task| once, |delay| from now; replaces an earlier task.
  virtual void Start(const Location& posted_from, TimeDelta delay, Closure task);
  // The queued task, if any, stays queued and does nothing.
  virtual void Stop();
  // Re-arms with the stored delay and task.
  virtual void Reset();

 private:
  class ScheduledTask;

  void PostNewScheduledTask(TimeDelta delay);
  void AbandonScheduledTask();
  // The posted task fired.
  void RunScheduledTask();

  ScheduledTask* scheduled_task_ = nullptr;
  scoped_refptr<SequencedTaskRunner> task_runner_;
  Location posted_from_;
  TimeDelta delay_;
  Closure user_task_;
  TimeTicks scheduled_run_time_;
  TimeTicks desired_run_time_;
  DWORD thread_id_ = 0;
  bool is_running_ = false;
};

}  // namespace base

#endif  // BASE_TIMER_TIMER_H_
