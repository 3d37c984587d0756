// Waits until the named event given as the second argument is set (when given), then
// exits with the code given as the first argument.
#include <windows.h>

#include <stdlib.h>

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 255;
  if (argc >= 3) {
    HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, argv[2]);
    if (!event || WaitForSingleObject(event, INFINITE) != WAIT_OBJECT_0) return 254;
    CloseHandle(event);
  }
  return static_cast<int>(wcstoul(argv[1], nullptr, 10));
}
