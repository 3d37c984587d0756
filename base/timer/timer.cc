#include "base/timer/timer.h"

#include <memory>
#include <utility>

#include "base/bind.h"
#include "base/threading/thread_task_runner_handle.h"

namespace base {

// The record a posted task owns. Its back pointer is cleared when the timer abandons it,
// which turns the posted task into a no-op.
class Timer::ScheduledTask {
 public:
  explicit ScheduledTask(Timer* timer) : timer_(timer) {}
  ScheduledTask(const ScheduledTask&) = delete;
  ScheduledTask& operator=(const ScheduledTask&) = delete;

  // Destroyed unrun (its runner dropped it): the timer ends stopped.
  ~ScheduledTask() {
    if (timer_) {
      Timer* timer = timer_;
      timer->AbandonScheduledTask();
      timer->Stop();
    }
  }

  static void Run(std::unique_ptr<ScheduledTask>& task) {
    Timer* timer = task->timer_;
    if (!timer)
      return;
    timer->scheduled_task_ = nullptr;
    task->timer_ = nullptr;
    timer->RunScheduledTask();
  }

  void Abandon() { timer_ = nullptr; }

 private:
  Timer* timer_;
};

Timer::Timer() = default;

Timer::~Timer() {
  AbandonScheduledTask();
  Stop();
}

bool Timer::IsRunning() const {
  return is_running_;
}

TimeDelta Timer::GetCurrentDelay() const {
  return delay_;
}

void Timer::SetTaskRunner(scoped_refptr<SequencedTaskRunner> task_runner) {
  task_runner_ = std::move(task_runner);
}

void Timer::Start(const Location& posted_from, TimeDelta delay, Closure task) {
  posted_from_ = posted_from;
  delay_ = delay;
  user_task_ = std::move(task);
  Reset();
}

void Timer::Stop() {
  is_running_ = false;
  user_task_.Reset();
}

void Timer::Reset() {
  if (!scheduled_task_) {
    PostNewScheduledTask(delay_);
    return;
  }
  TimeTicks desired = delay_ > TimeDelta() ? TimeTicks::Now() + delay_ : TimeTicks();
  desired_run_time_ = desired;
  if (desired_run_time_ >= scheduled_run_time_) {
    // The posted task fires first and posts a continuation for the rest.
    is_running_ = true;
    return;
  }
  AbandonScheduledTask();
  PostNewScheduledTask(delay_);
}

void Timer::PostNewScheduledTask(TimeDelta delay) {
  is_running_ = true;
  std::unique_ptr<ScheduledTask> record(new ScheduledTask(this));
  scheduled_task_ = record.get();
  scoped_refptr<SequencedTaskRunner> runner =
      task_runner_ ? task_runner_ : CurrentThreadTaskRunner::Get();
  Closure task = Bind(&ScheduledTask::Run, std::move(record));
  if (delay > TimeDelta()) {
    scheduled_run_time_ = desired_run_time_ = TimeTicks::Now() + delay;
    runner->PostDelayedTask(posted_from_, std::move(task), delay);
  } else {
    scheduled_run_time_ = desired_run_time_ = TimeTicks();
    runner->PostTask(posted_from_, std::move(task));
  }
  if (!thread_id_)
    thread_id_ = GetCurrentThreadId();
}

void Timer::AbandonScheduledTask() {
  if (scheduled_task_) {
    scheduled_task_->Abandon();
    scheduled_task_ = nullptr;
  }
}

void Timer::RunScheduledTask() {
  if (!is_running_)
    return;
  if (desired_run_time_ > scheduled_run_time_) {
    TimeTicks now = TimeTicks::Now();
    if (desired_run_time_ > now) {
      PostNewScheduledTask(desired_run_time_ - now);
      return;
    }
  }
  // The task may destroy this timer: nothing of it is touched after the run.
  Closure task = user_task_;
  Stop();
  if (!task.is_null())
    task.Run();
}

}  // namespace base
