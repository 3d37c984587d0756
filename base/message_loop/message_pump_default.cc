#include "base/message_loop/message_pump_default.h"

namespace base {

DefaultMessagePump::DefaultMessagePump()
    : event_(SyncEvent::AUTOMATIC, SyncEvent::NOT_SIGNALED) {}

DefaultMessagePump::~DefaultMessagePump() = default;

void DefaultMessagePump::Run(Delegate* delegate) {
  for (;;) {
    bool did_work = delegate->DoWork();
    if (!keep_running_)
      break;

    did_work |= delegate->DoDelayedWork(&delayed_work_time_);
    if (!keep_running_)
      break;

    if (did_work)
      continue;

    did_work = delegate->DoIdleWork();
    if (!keep_running_)
      break;

    if (did_work)
      continue;

    if (delayed_work_time_.is_null()) {
      event_.Wait();
    } else {
      (void)event_.TimedWaitUntil(delayed_work_time_);  // the loop looks for work either way
    }
  }
  // A quit ends one run only.
  keep_running_ = true;
}

void DefaultMessagePump::Quit() {
  keep_running_ = false;
}

void DefaultMessagePump::ScheduleWork() {
  // Any thread; the auto-reset event folds many posts into one wake-up.
  event_.Signal();
}

void DefaultMessagePump::ScheduleDelayedWork(const TimeTicks& delayed_work_time) {
  // Called on the loop's thread, which recomputes its wait before sleeping.
  delayed_work_time_ = delayed_work_time;
}

}  // namespace base
