#include "base/lazy_instance.h"

#include <windows.h>

#include "base/at_exit.h"

namespace base {

uintptr_t WaitForLazyInstance(std::atomic<uintptr_t>* state) {
  uintptr_t value;
  while ((value = state->load(std::memory_order_acquire)) == kLazyInstanceStateCreating)
    Sleep(0);
  return value;
}

namespace internal {

bool NeedsLazyInstance(std::atomic<uintptr_t>* state) {
  uintptr_t expected = 0;
  return state->compare_exchange_strong(expected, kLazyInstanceStateCreating,
                                        std::memory_order_acq_rel);
}

void CompleteLazyInstance(std::atomic<uintptr_t>* state, uintptr_t instance,
                          void (*destructor)(void*), void* context) {
  state->store(instance, std::memory_order_release);
  if (destructor && instance) ExitCallbackStack::Register(destructor, context);
}

}  // namespace internal
}  // namespace base
