// Test memory whose contents end exactly at an inaccessible page, so that a parser that
// reads one byte past its input crashes the test instead of passing by luck.
#ifndef BASE_TEST_GUARDED_BUFFER_TEST_UTIL_H_
#define BASE_TEST_GUARDED_BUFFER_TEST_UTIL_H_

#include <cstddef>

namespace base {

class GuardedBuffer {
 public:
  // Room for inputs of up to `max_size` bytes.
  explicit GuardedBuffer(size_t max_size);
  GuardedBuffer(const GuardedBuffer&) = delete;
  GuardedBuffer& operator=(const GuardedBuffer&) = delete;
  ~GuardedBuffer();

  // Copies `size` bytes so that the last one sits just before the guard page; returns
  // the copy, valid until the next Assign.
  const char* Assign(const void* bytes, size_t size);

 private:
  char* base_;
  size_t usable_;  // bytes before the guard page
};

}  // namespace base

#endif  // BASE_TEST_GUARDED_BUFFER_TEST_UTIL_H_
