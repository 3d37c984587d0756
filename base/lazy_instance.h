// Process-wide objects created on first use without a lock. The state word is 0 (not
// created), 1 (being created by some thread) or the instance's address; the creator is
// whoever swaps 0 for 1, everybody else yields until the address is published.
//
//   LazyInstance<Registry> g_registry;           // constant-initialised, no static ctor
//   g_registry.Get().Add(...);                   // destroyed by the exit-callback stack
//   LeakyLazyInstance<Table> g_table;            // never destroyed
#ifndef BASE_LAZY_INSTANCE_H_
#define BASE_LAZY_INSTANCE_H_

#include <atomic>
#include <cstdint>
#include <new>

namespace base {

constexpr uintptr_t kLazyInstanceStateCreating = 1;

// Yields while |state| is kLazyInstanceStateCreating; returns the value it then holds.
uintptr_t WaitForLazyInstance(std::atomic<uintptr_t>* state);

namespace internal {

// True for exactly one caller while |state| is 0: that caller must create the instance.
bool NeedsLazyInstance(std::atomic<uintptr_t>* state);

// Publishes |instance| in |state| and, when |destructor| is set, registers
// destructor(context) with the current exit-callback stack.
void CompleteLazyInstance(std::atomic<uintptr_t>* state, uintptr_t instance,
                          void (*destructor)(void*), void* context);

}  // namespace internal

// Returns the object published in |state|, creating it with create() (returning T*) when
// this is the first use. |destructor| (may be null) runs with |context| at exit.
template <typename T, typename Creator>
T* GetOrCreateLazyPointer(std::atomic<uintptr_t>* state, Creator create,
                          void (*destructor)(void*), void* context) {
  uintptr_t value = state->load(std::memory_order_acquire);
  if (value > kLazyInstanceStateCreating) return reinterpret_cast<T*>(value);
  if (internal::NeedsLazyInstance(state)) {
    T* instance = create();
    internal::CompleteLazyInstance(state, reinterpret_cast<uintptr_t>(instance), destructor,
                                   context);
    return instance;
  }
  return reinterpret_cast<T*>(WaitForLazyInstance(state));
}

template <typename T, bool kLeaky = false>
class LazyInstance {
 public:
  constexpr LazyInstance() : state_(0), storage_{} {}
  LazyInstance(const LazyInstance&) = delete;
  LazyInstance& operator=(const LazyInstance&) = delete;

  T& Get() { return *Pointer(); }
  T* Pointer() {
    return GetOrCreateLazyPointer<T>(
        &state_, [this] { return new (storage_) T(); }, kLeaky ? nullptr : &OnExit, this);
  }

 private:
  static void OnExit(void* self) {
    LazyInstance* lazy = static_cast<LazyInstance*>(self);
    reinterpret_cast<T*>(lazy->state_.load(std::memory_order_acquire))->~T();
    // A use after the exit callbacks makes a fresh instance instead of reaching a dead one.
    lazy->state_.store(0, std::memory_order_release);
  }

  std::atomic<uintptr_t> state_;
  alignas(T) unsigned char storage_[sizeof(T)];
};

template <typename T>
using LeakyLazyInstance = LazyInstance<T, true>;

}  // namespace base

#endif  // BASE_LAZY_INSTANCE_H_
