// A stand-in for the package's pinning executable. It appends one UTF-8 line to the file
// named by %VELUM_PIN_HELPER_LOG%: its own path, its argument count and its first
// argument, separated by "|"; and exits with N when the first argument holds "exit-N",
// else 0.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

int wmain(int argc, wchar_t** argv) {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const wchar_t* log_path = _wgetenv(L"VELUM_PIN_HELPER_LOG");
  if (log_path) {
    wchar_t line[3 * MAX_PATH];
    swprintf(line, sizeof(line) / sizeof(line[0]), L"%ls|%d|%ls\n", self, argc - 1,
             argc > 1 ? argv[1] : L"");
    char utf8[4 * 3 * MAX_PATH];
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, line, -1, utf8, sizeof(utf8), nullptr, nullptr);
    FILE* log = _wfopen(log_path, L"ab");
    if (log && size > 0) fwrite(utf8, 1, size - 1, log);
    if (log) fclose(log);
  }
  if (argc < 2) return 0;
  const wchar_t* code = wcsstr(argv[1], L"exit-");
  return code ? _wtoi(code + 5) : 0;
}
