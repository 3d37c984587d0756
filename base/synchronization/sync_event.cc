#include "base/synchronization/sync_event.h"

#include <limits>

#include "base/debug/activity_tracker.h"
#include "base/logging.h"

namespace base {

SyncEvent::SyncEvent(ResetPolicy reset_policy, InitialState initial_state)
    : handle_(CreateEventW(nullptr, reset_policy == MANUAL, initial_state == SIGNALED,
                           nullptr)) {
  CHECK(handle_.IsValid()) << "CreateEventW failed";
}

void SyncEvent::Signal() {
  SetEvent(handle_.Get());
}

void SyncEvent::Reset() {
  ResetEvent(handle_.Get());
}

void SyncEvent::Wait() {
  debug::EventWaitActivityScope scope(__builtin_return_address(0), handle_.Get());
  WaitForSingleObject(handle_.Get(), INFINITE);
}

bool SyncEvent::Poll() const {
  return WaitForSingleObject(handle_.Get(), 0) == WAIT_OBJECT_0;
}

// static
bool SyncEvent::WaitHandleUntil(HANDLE handle, TimeTicks end) {
  TimeDelta remaining = end - TimeTicks::Now();
  do {
    DWORD timeout;
    int64_t ms = remaining.InMilliseconds();
    if (ms < 1)
      ms = 1;  // never spin on a zero time-out
    if (remaining.is_max() || ms >= static_cast<int64_t>(INFINITE))
      timeout = INFINITE;
    else
      timeout = static_cast<DWORD>(ms);
    if (WaitForSingleObject(handle, timeout) == WAIT_OBJECT_0)
      return true;
    // The system's time-out may end early; only the tick clock says when to stop.
    remaining = end - TimeTicks::Now();
  } while (remaining > TimeDelta());
  return false;
}

bool SyncEvent::TimedWait(TimeDelta delta) {
  if (delta.is_zero())
    return Poll();
  debug::EventWaitActivityScope scope(__builtin_return_address(0), handle_.Get());
  if (delta.is_max()) {
    WaitForSingleObject(handle_.Get(), INFINITE);
    return true;
  }
  return WaitHandleUntil(handle_.Get(), TimeTicks::Now() + delta);
}

bool SyncEvent::TimedWaitUntil(TimeTicks end) {
  if (end.is_null())
    return Poll();
  debug::EventWaitActivityScope scope(__builtin_return_address(0), handle_.Get());
  if (end <= TimeTicks::Now())
    return Poll();
  return WaitHandleUntil(handle_.Get(), end);
}

}  // namespace base
