// Test memory that faults once freed: while a ScopedGuardedHeap lives, every allocation of
// the library's allocator (operator new included, on any thread) gets pages of its own,
// its end against an inaccessible page, and its pages are decommitted when it is freed
// and never handed out again. A use after free, or a write past the end, then crashes
// the test instead of passing by luck. Outside the scope the private heap serves as usual.
//
//   {
//     base::ScopedGuardedHeap guarded;
//     std::unique_ptr<Server> server(new Server);  // and what it allocates
//     ...
//   }
#ifndef BASE_TEST_GUARDED_HEAP_TEST_UTIL_H_
#define BASE_TEST_GUARDED_HEAP_TEST_UTIL_H_

namespace base {

class ScopedGuardedHeap {
 public:
  ScopedGuardedHeap();
  ScopedGuardedHeap(const ScopedGuardedHeap&) = delete;
  ScopedGuardedHeap& operator=(const ScopedGuardedHeap&) = delete;
  ~ScopedGuardedHeap();

  // Whether |pointer| came from a guarded allocation (freed or not).
  static bool IsGuarded(const void* pointer);
};

}  // namespace base

#endif  // BASE_TEST_GUARDED_HEAP_TEST_UTIL_H_
