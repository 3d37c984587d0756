#include "desktop/windows/installer/process_launch_lock.h"

namespace installer {

base::Lock& GetProcessLaunchLock() {
  // Constant-initialised, so every caller sees it from the first use on.
  static base::Lock lock;
  return lock;
}

}  // namespace installer
