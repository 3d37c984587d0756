// Lock: an exclusive lock over one slim reader/writer lock word; AutoLock holds it for a
// scope. Not recursive: acquiring a Lock twice on one thread deadlocks.
#ifndef BASE_SYNCHRONIZATION_LOCK_H_
#define BASE_SYNCHRONIZATION_LOCK_H_

#include <windows.h>

namespace base {

class Lock {
 public:
  // constexpr so that a Lock with static storage is ready before any constructor runs.
  constexpr Lock() : word_{nullptr} {}
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

  void Acquire();
  void Release();

  // The raw word, for the few places that also take it in shared mode.
  SRWLOCK* native_handle() { return &word_; }

 private:
  SRWLOCK word_;
};

// Acquires |lock| for the lifetime of this object.
class AutoLock {
 public:
  explicit AutoLock(Lock& lock) : lock_(&lock) { lock_->Acquire(); }
  ~AutoLock() { lock_->Release(); }
  AutoLock(const AutoLock&) = delete;
  AutoLock& operator=(const AutoLock&) = delete;

 private:
  Lock* lock_;
};

}  // namespace base

#endif  // BASE_SYNCHRONIZATION_LOCK_H_
