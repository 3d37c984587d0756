// Test helper: holds "vauc_registry_mutex" the way another process of the product would.
// Arguments: the name of an event to set once the mutex is held, and the name of an
// event that ends the hold (after at most a minute, so a failed test leaves no orphan).
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 1;
  // The test process may hold a handle already: take ownership by waiting.
  HANDLE mutex = CreateMutexW(nullptr, FALSE, L"vauc_registry_mutex");
  if (!mutex || WaitForSingleObject(mutex, 60000) != WAIT_OBJECT_0) return 2;
  HANDLE held = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[1]);
  HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, argv[2]);
  if (!held || !release) return 3;
  SetEvent(held);
  WaitForSingleObject(release, 60000);
  ReleaseMutex(mutex);
  CloseHandle(release);
  CloseHandle(held);
  CloseHandle(mutex);
  return 0;
}
