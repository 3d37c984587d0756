// The one lock of the process held around every launch whose child inherits handles,
// from the creation of the inheritable handle to the child's creation, so that no other
// such launch passes that handle on to its own child.
#ifndef BASE_PROCESS_PROCESS_LAUNCH_LOCK_H_
#define BASE_PROCESS_PROCESS_LAUNCH_LOCK_H_

#include "base/synchronization/lock.h"

namespace base {

Lock& GetProcessLaunchLock();

}  // namespace base

#endif  // BASE_PROCESS_PROCESS_LAUNCH_LOCK_H_
