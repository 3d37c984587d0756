// A DLL with its own copy of the thread-local storage, to prove that its TLS callback is
// linked in and destroys values of threads that end while it is loaded.
#include <windows.h>

#include "base/threading/thread_local_storage.h"

namespace {

base::TlsSlot g_slot;
LONG* g_destroyed_count = nullptr;

void CountDestruction(void*) { InterlockedIncrement(g_destroyed_count); }

}  // namespace

extern "C" __declspec(dllexport) void TlsTestDllInitialize(LONG* destroyed_count) {
  g_destroyed_count = destroyed_count;
  g_slot.Initialize(&CountDestruction);
}

extern "C" __declspec(dllexport) void TlsTestDllSet(void* value) { g_slot.Set(value); }
