// A reference count that may be changed from any thread.
#ifndef BASE_ATOMIC_REF_COUNT_H_
#define BASE_ATOMIC_REF_COUNT_H_

#include <stdint.h>

#include <atomic>

namespace base {

class AtomicRefCount {
 public:
  constexpr explicit AtomicRefCount(int64_t initial) : count_(initial) {}
  AtomicRefCount(const AtomicRefCount&) = delete;
  AtomicRefCount& operator=(const AtomicRefCount&) = delete;

  void Increment() { count_.fetch_add(1, std::memory_order_relaxed); }
  // Returns true when the count reached zero: the caller then frees the object. The
  // acquire-release order makes every earlier holder's writes visible to it.
  bool Decrement() { return count_.fetch_sub(1, std::memory_order_acq_rel) == 1; }
  bool IsOne() const { return count_.load(std::memory_order_acquire) == 1; }
  bool IsZero() const { return count_.load(std::memory_order_acquire) == 0; }

 private:
  std::atomic<int64_t> count_;
};

}  // namespace base

#endif  // BASE_ATOMIC_REF_COUNT_H_
