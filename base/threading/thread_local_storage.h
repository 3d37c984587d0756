// Thread-local slots. The process uses one Windows TLS index, which points, for each
// thread, to an array of 256 entries; each TlsSlot owns one entry number. A slot may carry
// a destructor that runs for every thread's non-null value when that thread ends.
//
//   static TlsSlot slot;                 // constant-initialised
//   slot.Initialize(&DeleteRecord);      // once, before any thread uses it
//   slot.Set(new Record);                // per thread; DeleteRecord runs at thread end
#ifndef BASE_THREADING_THREAD_LOCAL_STORAGE_H_
#define BASE_THREADING_THREAD_LOCAL_STORAGE_H_

#include <windows.h>

#include <atomic>
#include <cstdint>

namespace base {

class TlsSlot {
 public:
  typedef void (*Destructor)(void* value);

  constexpr TlsSlot() : initialized_(0), entry_(-1), version_(0) {}
  TlsSlot(const TlsSlot&) = delete;
  TlsSlot& operator=(const TlsSlot&) = delete;

  // Assigns a free entry; |destructor| may be null. All 256 in use stops the process.
  void Initialize(Destructor destructor);
  // Returns the entry. Values threads still hold are dropped, never destroyed.
  void Free();

  // The calling thread's value, null when unset. Leaves the thread's last error alone.
  void* Get() const;
  void Set(void* value);

  bool initialized() const { return initialized_.load(std::memory_order_acquire) != 0; }

 private:
  std::atomic<uint32_t> initialized_;
  int32_t entry_;
  uint32_t version_;
};

// The slot published in |state| (0 absent, 1 being created, else its address), created
// without a destructor on first use and never freed.
TlsSlot* GetLazyTlsSlot(std::atomic<uintptr_t>* state);

namespace internal {

// The module's TLS callback: destroys the ending thread's values.
void NTAPI OnTlsThreadExit(PVOID module, DWORD reason, PVOID reserved);

}  // namespace internal
}  // namespace base

#endif  // BASE_THREADING_THREAD_LOCAL_STORAGE_H_
