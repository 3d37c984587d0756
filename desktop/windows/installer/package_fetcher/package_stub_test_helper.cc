// A stand-in for a downloaded package in the fetcher tests: it answers the switches
// "internal-version" and "stream" as an installer does, with the values of the variables
// VELUM_STUB_INTERNAL_VERSION and VELUM_STUB_STREAM (written without a newline), and
// never ends when VELUM_STUB_HANG is set. Named "<type>_installer.exe" (a component) it
// answers VELUM_STUB_COMPONENT_VERSION instead when that is set. Run without arguments as
// "<type>_sfx.exe" it acts as a component's self-extracting archive: it puts a copy of itself
// (of the file VELUM_STUB_SFX_INSTALLER names, when set) beside it as
// "<type>_installer.exe", and exits with VELUM_STUB_SFX_EXIT_CODE (0 without it). Exit code
// 2 for any other command line. With VELUM_STUB_RECORD set it first appends its command
// line and a line break to that file: every start shows.
#include <windows.h>

#include <stdlib.h>
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

// The self-extractor's part: "<dir>\\<type>_sfx.exe" copies itself (or the file
// VELUM_STUB_SFX_INSTALLER names) to "<dir>\\<type>_installer.exe".
int ExtractComponent() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  const wchar_t kSuffix[] = L"_sfx.exe";
  const size_t suffix_length = wcslen(kSuffix);
  if (length == 0 || length >= MAX_PATH || length < suffix_length ||
      _wcsicmp(path + length - suffix_length, kSuffix) != 0)
    return 2;
  wchar_t installer[MAX_PATH + 16];
  wcsncpy(installer, path, length - suffix_length);
  installer[length - suffix_length] = L'\0';
  wcscat(installer, L"_installer.exe");
  wchar_t unpacked[MAX_PATH] = {};
  const DWORD unpacked_length =
      GetEnvironmentVariableW(L"VELUM_STUB_SFX_INSTALLER", unpacked, MAX_PATH);
  if (unpacked_length >= MAX_PATH) return 4;
  if (!CopyFileW(unpacked_length > 0 ? unpacked : path, installer, FALSE)) return 4;
  char code[16] = {};
  const DWORD code_length = GetEnvironmentVariableA("VELUM_STUB_SFX_EXIT_CODE", code, sizeof(code));
  return code_length > 0 && code_length < sizeof(code) ? atoi(code) : 0;
}

bool IsComponent() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  const wchar_t kSuffix[] = L"_installer.exe";
  const size_t suffix_length = wcslen(kSuffix);
  return length > suffix_length && length < MAX_PATH &&
         _wcsicmp(path + length - suffix_length, kSuffix) == 0;
}

void RecordStart() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableW(L"VELUM_STUB_RECORD", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  char line[4096];
  const int size = WideCharToMultiByte(CP_UTF8, 0, GetCommandLineW(), -1, line,
                                       sizeof(line), nullptr, nullptr);
  if (size > 0) {
    line[size - 1] = '\n';
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(size), &written, nullptr);
  }
  CloseHandle(file);
}

int wmain(int argc, wchar_t** argv) {
  RecordStart();
  if (argc == 1) return ExtractComponent();
  if (argc == 2 && wcscmp(argv[1], L"--internal-version") == 0 && IsComponent() &&
      GetEnvironmentVariableA("VELUM_STUB_COMPONENT_VERSION", nullptr, 0) != 0)
    return Print("VELUM_STUB_COMPONENT_VERSION");
  if (argc == 2 && wcscmp(argv[1], L"--internal-version") == 0)
    return Print("VELUM_STUB_INTERNAL_VERSION");
  if (argc == 2 && wcscmp(argv[1], L"--stream") == 0) return Print("VELUM_STUB_STREAM");
  return 2;
}
