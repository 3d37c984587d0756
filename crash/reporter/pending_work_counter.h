// Counts the crash reporter's outstanding work: the parent process while it lives, each
// dump being written and each upload in flight. The reporter's main thread waits until
// the count has dropped to zero, then ends.
#ifndef CRASH_REPORTER_PENDING_WORK_COUNTER_H_
#define CRASH_REPORTER_PENDING_WORK_COUNTER_H_

#include <windows.h>

#include "base/win/scoped_handle.h"

namespace crash_reporter {

class PendingWorkCounter {
 public:
  PendingWorkCounter();
  ~PendingWorkCounter();
  PendingWorkCounter(const PendingWorkCounter&) = delete;
  PendingWorkCounter& operator=(const PendingWorkCounter&) = delete;

  // Creates the event; false when it cannot be made. Later calls only report it.
  [[nodiscard]] bool Initialize();
  void AddRef();
  // The release that brings the count from 1 to 0 sets the event.
  void Release();
  // Waits without time-out until the count has dropped to zero.
  [[nodiscard]] bool Wait();

 private:
  volatile LONG count_ = 0;
  base::ScopedHandle event_;
};

// The process's one counter.
PendingWorkCounter* GetPendingWorkCounter();

}  // namespace crash_reporter

#endif  // CRASH_REPORTER_PENDING_WORK_COUNTER_H_
