// SyncEvent: one Windows event that threads wait on and others signal. Timed waits
// never return before their time, even when the system's own time-out comes early.
//
//   SyncEvent done(SyncEvent::MANUAL, SyncEvent::NOT_SIGNALED);
//   worker->PostTask(FROM_HERE, Bind(&SyncEvent::Signal, Unretained(&done)));
//   done.Wait();
#ifndef BASE_SYNCHRONIZATION_SYNC_EVENT_H_
#define BASE_SYNCHRONIZATION_SYNC_EVENT_H_

#include <windows.h>

#include <stdint.h>

#include "base/time/time.h"
#include "base/win/scoped_handle.h"

namespace base {

class SyncEvent {
 public:
  enum ResetPolicy : uint32_t { MANUAL = 0, AUTOMATIC = 1 };
  enum InitialState : uint32_t { SIGNALED = 0, NOT_SIGNALED = 1 };

  // A failed event creation stops the process.
  SyncEvent(ResetPolicy reset_policy, InitialState initial_state);
  SyncEvent(const SyncEvent&) = delete;
  SyncEvent& operator=(const SyncEvent&) = delete;

  void Signal();
  void Reset();

  // Waits without limit.
  void Wait();
  // True when signalled within |delta|; a zero delta only polls.
  [[nodiscard]] bool TimedWait(TimeDelta delta);
  // True when signalled before |end|; a null or past |end| only polls.
  [[nodiscard]] bool TimedWaitUntil(TimeTicks end);

  HANDLE handle() const { return handle_.Get(); }

  // Waits on |handle| until |end| (later than now), repeating early system time-outs.
  // True when the handle was signalled. Shared with the pumps that sleep on handles.
  [[nodiscard]] static bool WaitHandleUntil(HANDLE handle, TimeTicks end);

 private:
  bool Poll() const;

  ScopedHandle handle_;
};

}  // namespace base

#endif  // BASE_SYNCHRONIZATION_SYNC_EVENT_H_
