// Destroys the allocator heap early, then frees and allocates as late shutdown code
// would. Exits 0 when every step behaved; a crash fails the caller's test.
#include <windows.h>

#include <string>

#include "base/allocator/allocator_dispatch.h"
#include "base/allocator/allocator_shim.h"

namespace {

// Released by a static destructor after main returns.
void* g_late_block = base::allocator::Malloc(200);
struct LateFree {
  ~LateFree() { base::allocator::Free(g_late_block); }
} g_late_free;

int DestroyEarly() {
  using namespace base::allocator;
  void* before = Malloc(64);
  if (!before || !GetAllocatorHeap()) return 1;

  DestroyAllocatorHeap();
  if (GetAllocatorHeap()) return 2;
  Free(before);  // died with the heap: ignored
  if (Realloc(before, 128)) return 3;
  if (Realloc(before, 0)) return 4;

  // Allocation still works, from a new heap that lives until the process ends.
  std::string* after = new std::string(300, 'a');
  if (!GetAllocatorHeap() || !HeapValidate(GetAllocatorHeap(), 0, after)) return 5;
  delete after;
  return 0;
}

}  // namespace

int wmain() { return DestroyEarly(); }
