// Holds a whole-file lock from another process for the statistics store's tests:
// `file_lock_test_helper <path> <locked event> <release event>` opens and locks <path>,
// sets the named event <locked event>, and ends (dropping the lock) once <release event>
// is set, or after a minute.
#include <windows.h>

#include "base/win/scoped_handle.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 10;
  base::ScopedHandle file(CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  base::ScopedHandle locked(OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]));
  base::ScopedHandle release(OpenEventW(SYNCHRONIZE, FALSE, argv[3]));
  if (!file.IsValid() || !locked.IsValid() || !release.IsValid()) return 11;
  if (!LockFile(file.Get(), 0, 0, MAXDWORD, MAXDWORD)) return 12;
  if (!SetEvent(locked.Get())) return 13;
  const bool released = WaitForSingleObject(release.Get(), 60000) == WAIT_OBJECT_0;
  UnlockFile(file.Get(), 0, 0, MAXDWORD, MAXDWORD);
  return released ? 0 : 14;
}
