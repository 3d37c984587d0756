// The child of the launch tests. Modes (first argument):
//   exit N            exits with code N
//   crash             dereferences a null pointer
//   print TEXT        writes TEXT to standard output, exits 0
//   set-events H...   sets the events of the decimal handle values; exit code bit i
//                     set when the i-th could be set
//   in-job            exit code 1 when this process is in a job, else 0
//   env NAME          writes the variable's value to standard output (exit 251 when unset)
//   hang TEXT         writes TEXT to standard output and never ends
#include <windows.h>

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace {

[[nodiscard]] bool WriteOut(const char* text, DWORD size) {
  DWORD written = 0;
  return WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, size, &written, nullptr) &&
         written == size;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 255;
  if (!wcscmp(argv[1], L"exit") && argc == 3)
    return static_cast<int>(wcstoul(argv[2], nullptr, 0));
  if (!wcscmp(argv[1], L"hang") && argc == 3) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), argv[2], 2 * static_cast<DWORD>(wcslen(argv[2])),
              &written, nullptr);
    Sleep(INFINITE);
  }
  if (!wcscmp(argv[1], L"crash")) {
    volatile int* nowhere = nullptr;
    *nowhere = 1;
    return 254;
  }
  if (!wcscmp(argv[1], L"print") && argc == 3) {
    char text[4096];
    const int size = WideCharToMultiByte(CP_UTF8, 0, argv[2], -1, text, sizeof(text), nullptr,
                                         nullptr);
    return size > 0 && WriteOut(text, static_cast<DWORD>(size - 1)) ? 0 : 253;
  }
  if (!wcscmp(argv[1], L"set-events")) {
    int bits = 0;
    for (int i = 2; i < argc; ++i) {
      HANDLE handle =
          reinterpret_cast<HANDLE>(static_cast<uintptr_t>(_wcstoui64(argv[i], nullptr, 10)));
      if (SetEvent(handle)) bits |= 1 << (i - 2);
    }
    return bits;
  }
  if (!wcscmp(argv[1], L"in-job")) {
    BOOL in_job = FALSE;
    if (!IsProcessInJob(GetCurrentProcess(), nullptr, &in_job)) return 252;
    return in_job ? 1 : 0;
  }
  if (!wcscmp(argv[1], L"env") && argc == 3) {
    const wchar_t* value = _wgetenv(argv[2]);
    if (!value) return 251;
    char text[4096];
    const int size = WideCharToMultiByte(CP_UTF8, 0, value, -1, text, sizeof(text), nullptr,
                                         nullptr);
    return size > 0 && WriteOut(text, static_cast<DWORD>(size - 1)) ? 0 : 251;
  }
  return 255;
}
