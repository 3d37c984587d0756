// Test helper: the program the temporary-folder probe copies and runs. It leaves a file
// "probe_ran.txt" beside itself holding the arguments it was given, so a test can see
// where the copy ran and with what.
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
  wchar_t own[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 1;
  std::wstring marker(own);
  marker.erase(marker.find_last_of(L'\\') + 1);
  marker += L"probe_ran.txt";
  std::string text;
  for (int i = 1; i < argc; ++i) {
    for (const wchar_t* c = argv[i]; *c; ++c) text.push_back(static_cast<char>(*c));
    text.push_back(' ');
  }
  HANDLE file = CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 2;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  return ok ? 0 : 3;
}
