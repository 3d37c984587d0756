#include "base/synchronization/lock.h"

namespace base {

void Lock::Acquire() { AcquireSRWLockExclusive(&word_); }

void Lock::Release() { ReleaseSRWLockExclusive(&word_); }

}  // namespace base
