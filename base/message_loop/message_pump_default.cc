#include "base/message_loop/message_pump_default.h"

#include <windows.h>

#include "base/debug/activity_tracker.h"
#include "base/logging.h"

namespace base {

DefaultMessagePump::DefaultMessagePump()
    : event_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
  if (!event_.IsValid())
    PLOG(FATAL) << "CreateEventW";
}

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

    WaitForWork();
  }
  keep_running_ = true;
}

void DefaultMessagePump::WaitForWork() {
  if (delayed_work_time_.is_null()) {
    debug::EventWaitActivityScope activity(__builtin_return_address(0), event_.Get());
    WaitForSingleObject(event_.Get(), INFINITE);
    return;
  }
  // Waits never return early: sleep again until the delayed work time has passed.
  for (;;) {
    TimeDelta remaining = delayed_work_time_ - TimeTicks::Now();
    if (remaining <= TimeDelta())
      return;
    DWORD timeout = static_cast<DWORD>(remaining.InMillisecondsRoundedUp());
    if (WaitForSingleObject(event_.Get(), timeout) == WAIT_OBJECT_0)
      return;
  }
}

void DefaultMessagePump::Quit() {
  keep_running_ = false;
}

void DefaultMessagePump::ScheduleWork() {
  // Any thread; the auto-reset event folds many posts into one wake-up.
  SetEvent(event_.Get());
}

void DefaultMessagePump::ScheduleDelayedWork(const TimeTicks& delayed_work_time) {
  // Called on the loop's thread, which recomputes its wait before sleeping.
  delayed_work_time_ = delayed_work_time;
}

}  // namespace base
