#include "base/threading/thread_local_storage.h"

#include <cstring>

#include "base/lazy_instance.h"
#include "base/logging.h"
#include "base/synchronization/lock.h"

namespace base {
namespace {

constexpr int kEntryCount = 256;
// Destructors may set other slots; each such round needs another pass.
constexpr int kMaxDestructionPasses = 256;

struct TlsEntry {
  void* value;
  uint32_t version;
};

enum class SlotStatus : uint8_t { kFree, kInUse };

struct SlotInfo {
  SlotStatus status;
  TlsSlot::Destructor destructor;
  uint32_t version;
};

std::atomic<DWORD> g_native_index{TLS_OUT_OF_INDEXES};

// Guarded by SlotTableLock().
SlotInfo g_slot_table[kEntryCount];
int g_last_assigned = 0;

Lock& SlotTableLock() {
  static Lock lock;
  return lock;
}

// TlsGetValue clears the thread's last error on success; callers read it after us.
TlsEntry* ReadArray(DWORD index) {
  const DWORD last_error = GetLastError();
  void* array = TlsGetValue(index);
  SetLastError(last_error);
  return static_cast<TlsEntry*>(array);
}

void StoreArray(DWORD index, TlsEntry* array) {
  const DWORD last_error = GetLastError();
  TlsSetValue(index, array);
  SetLastError(last_error);
}

DWORD GetOrAllocateNativeIndex() {
  DWORD index = g_native_index.load(std::memory_order_acquire);
  if (index != TLS_OUT_OF_INDEXES) return index;
  const DWORD fresh = TlsAlloc();
  CHECK_NE(fresh, TLS_OUT_OF_INDEXES) << "no Windows TLS index left";
  if (g_native_index.compare_exchange_strong(index, fresh, std::memory_order_acq_rel))
    return fresh;
  TlsFree(fresh);  // another thread installed its index first
  return index;
}

TlsEntry* CreateThreadArray() {
  const DWORD index = GetOrAllocateNativeIndex();
  CHECK(!ReadArray(index)) << "thread-local array created twice";
  // The allocator may use thread-local slots itself: give it an array while we allocate.
  TlsEntry stack_array[kEntryCount] = {};
  StoreArray(index, stack_array);
  TlsEntry* heap_array = new TlsEntry[kEntryCount];
  std::memcpy(heap_array, stack_array, sizeof stack_array);
  StoreArray(index, heap_array);
  return heap_array;
}

TlsEntry* GetThreadArray() {
  const DWORD index = g_native_index.load(std::memory_order_acquire);
  if (index != TLS_OUT_OF_INDEXES) {
    if (TlsEntry* array = ReadArray(index)) return array;
  }
  return CreateThreadArray();
}

void DestroyThreadValues() {
  const DWORD index = g_native_index.load(std::memory_order_acquire);
  if (index == TLS_OUT_OF_INDEXES) return;
  TlsEntry* heap_array = ReadArray(index);
  if (!heap_array) return;

  // From here on no allocation: the destructors see the stack copy.
  TlsEntry array[kEntryCount];
  std::memcpy(array, heap_array, sizeof array);
  StoreArray(index, array);
  delete[] heap_array;

  SlotInfo table[kEntryCount];
  {
    AutoLock lock(SlotTableLock());
    std::memcpy(table, g_slot_table, sizeof table);
  }

  for (int pass = 0; pass < kMaxDestructionPasses; ++pass) {
    bool destroyed_any = false;
    for (int entry = 0; entry < kEntryCount; ++entry) {
      void* value = array[entry].value;
      const SlotInfo& info = table[entry];
      if (!value || info.status != SlotStatus::kInUse ||
          info.version != array[entry].version || !info.destructor) {
        continue;
      }
      array[entry].value = nullptr;
      info.destructor(value);
      destroyed_any = true;
    }
    if (!destroyed_any) break;
  }
  StoreArray(index, nullptr);
}

}  // namespace

void TlsSlot::Initialize(Destructor destructor) {
  const DWORD index = g_native_index.load(std::memory_order_acquire);
  if (index == TLS_OUT_OF_INDEXES || !ReadArray(index)) CreateThreadArray();

  entry_ = -1;
  version_ = 0;
  {
    AutoLock lock(SlotTableLock());
    for (int i = 0; i < kEntryCount; ++i) {
      const int candidate = (g_last_assigned + 1 + i) % kEntryCount;
      SlotInfo& info = g_slot_table[candidate];
      if (info.status != SlotStatus::kFree) continue;
      info.status = SlotStatus::kInUse;
      info.destructor = destructor;
      g_last_assigned = candidate;
      entry_ = candidate;
      version_ = info.version;
      break;
    }
  }
  CHECK_NE(entry_, -1) << "all " << kEntryCount << " thread-local slots are in use";
  initialized_.store(1, std::memory_order_release);
}

void TlsSlot::Free() {
  CHECK_GE(entry_, 0) << "freeing a thread-local slot that holds no entry";
  {
    AutoLock lock(SlotTableLock());
    SlotInfo& info = g_slot_table[entry_];
    info.status = SlotStatus::kFree;
    info.destructor = nullptr;
    ++info.version;
  }
  entry_ = -1;
  initialized_.store(0, std::memory_order_release);
}

void* TlsSlot::Get() const {
  CHECK_GE(entry_, 0) << "thread-local slot used before Initialize or after Free";
  const TlsEntry& entry = GetThreadArray()[entry_];
  return entry.version == version_ ? entry.value : nullptr;
}

void TlsSlot::Set(void* value) {
  CHECK_GE(entry_, 0) << "thread-local slot used before Initialize or after Free";
  TlsEntry& entry = GetThreadArray()[entry_];
  entry.value = value;
  entry.version = version_;
}

TlsSlot* GetLazyTlsSlot(std::atomic<uintptr_t>* state) {
  return GetOrCreateLazyPointer<TlsSlot>(
      state,
      [] {
        TlsSlot* slot = new TlsSlot;
        slot->Initialize(nullptr);
        return slot;
      },
      nullptr, nullptr);
}

namespace internal {

void NTAPI OnTlsThreadExit(PVOID, DWORD reason, PVOID) {
  if (reason == DLL_THREAD_DETACH || reason == DLL_PROCESS_DETACH) DestroyThreadValues();
}

}  // namespace internal
}  // namespace base

// The loader calls the callbacks listed between the CRT's .CRT$XLA and .CRT$XLZ markers
// for every module holding them. Being in this object file, the entry is linked into
// every EXE and DLL that uses a TlsSlot.
extern "C" {
extern const PIMAGE_TLS_CALLBACK velum_tls_thread_exit_callback;
__attribute__((section(".CRT$XLB"), used)) const PIMAGE_TLS_CALLBACK
    velum_tls_thread_exit_callback = base::internal::OnTlsThreadExit;
}
