// Holds one reference of the pending-work counter while the crash reporter's parent
// process lives, and releases it exactly once: when the parent ends or at Stop.
#ifndef CRASH_REPORTER_PARENT_PROCESS_WATCHER_H_
#define CRASH_REPORTER_PARENT_PROCESS_WATCHER_H_

#include <windows.h>
#include <stdint.h>

#include "base/win/scoped_generic.h"
#include "base/win/scoped_handle.h"

namespace crash_reporter {

class PendingWorkCounter;

class ParentProcessWatcher {
 public:
  explicit ParentProcessWatcher(PendingWorkCounter* counter);
  ~ParentProcessWatcher();
  ParentProcessWatcher(const ParentProcessWatcher&) = delete;
  ParentProcessWatcher& operator=(const ParentProcessWatcher&) = delete;

  // False when the parent cannot be opened (it has already gone) or watched.
  [[nodiscard]] bool Start(uint32_t parent_id);
  // Releases the reference if the parent's end has not done it yet; stops watching.
  void Stop();

 private:
  static void CALLBACK OnParentExited(void* context, BOOLEAN timed_out);
  void ReleaseOnce();

  PendingWorkCounter* const counter_;
  volatile LONG watching_ = 0;
  base::ScopedHandle parent_;
  base::ScopedRegisteredWait wait_;
};

}  // namespace crash_reporter

#endif  // CRASH_REPORTER_PARENT_PROCESS_WATCHER_H_
