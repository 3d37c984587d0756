#include "base/synchronization/lock.h"

#include "base/debug/activity_tracker.h"

namespace base {

void Lock::Acquire() {
  // Shows a crash report which lock a hung thread waits for; ends once the lock is held.
  debug::LockAcquireActivityScope scope(__builtin_return_address(0), this);
  AcquireSRWLockExclusive(&word_);
}

void Lock::Release() { ReleaseSRWLockExclusive(&word_); }

}  // namespace base
