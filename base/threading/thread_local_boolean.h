// A per-thread boolean over one TlsSlot: true is stored as the slot's own address.
#ifndef BASE_THREADING_THREAD_LOCAL_BOOLEAN_H_
#define BASE_THREADING_THREAD_LOCAL_BOOLEAN_H_

#include "base/threading/thread_local_storage.h"

namespace base {

class ThreadLocalBoolean {
 public:
  ThreadLocalBoolean() { slot_.Initialize(nullptr); }
  ~ThreadLocalBoolean() { slot_.Free(); }
  ThreadLocalBoolean(const ThreadLocalBoolean&) = delete;
  ThreadLocalBoolean& operator=(const ThreadLocalBoolean&) = delete;

  bool Get() const { return slot_.Get() != nullptr; }
  void Set(bool value) { slot_.Set(value ? &slot_ : nullptr); }

 private:
  TlsSlot slot_;
};

}  // namespace base

#endif  // BASE_THREADING_THREAD_LOCAL_BOOLEAN_H_
