#include "base/test/guarded_buffer_test_util.h"

#include <windows.h>

#include <cstring>

#include "base/logging.h"

namespace base {

namespace {
const size_t kPage = 4096;
}  // namespace

GuardedBuffer::GuardedBuffer(size_t max_size)
    : base_(nullptr), usable_((max_size + kPage - 1) / kPage * kPage) {
  base_ = static_cast<char*>(
      VirtualAlloc(nullptr, usable_ + kPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  CHECK(base_) << "VirtualAlloc failed";
  DWORD old_protection = 0;
  CHECK(VirtualProtect(base_ + usable_, kPage, PAGE_NOACCESS, &old_protection));
}

GuardedBuffer::~GuardedBuffer() { VirtualFree(base_, 0, MEM_RELEASE); }

const char* GuardedBuffer::Assign(const void* bytes, size_t size) {
  CHECK(size <= usable_) << "input larger than the guarded buffer";
  char* start = base_ + usable_ - size;
  if (size) memcpy(start, bytes, size);
  return start;
}

}  // namespace base
