// A stand-in for a downloaded package in the fetcher tests: it answers the switches
// "internal-version" and "stream" as an installer does, with the values of the variables
// VELUM_STUB_INTERNAL_VERSION and VELUM_STUB_STREAM (written without a newline), and
// never ends when VELUM_STUB_HANG is set. Exit code 2 for any other command line.
#include <windows.h>

#include <string.h>

namespace {

int Print(const char* variable) {
  if (GetEnvironmentVariableA("VELUM_STUB_HANG", nullptr, 0) != 0) Sleep(INFINITE);
  char value[256] = {};
  const DWORD length = GetEnvironmentVariableA(variable, value, sizeof(value));
  if (length >= sizeof(value)) return 3;
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), value, length, &written, nullptr);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && wcscmp(argv[1], L"--internal-version") == 0)
    return Print("VELUM_STUB_INTERNAL_VERSION");
  if (argc == 2 && wcscmp(argv[1], L"--stream") == 0) return Print("VELUM_STUB_STREAM");
  return 2;
}
