#include "base/process/process_launch_lock.h"

namespace base {

Lock& GetProcessLaunchLock() {
  // Constant-initialised, so every caller sees it from the first use on.
  static Lock lock;
  return lock;
}

}  // namespace base
