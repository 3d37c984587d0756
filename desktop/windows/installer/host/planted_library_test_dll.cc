// Stands for a DLL that someone put beside the installer under a system DLL's name
// ("userenv.dll", "Msftedit.dll"): when it is loaded, it appends its own path (UTF-8) and a
// line break to "planted_library_loaded.txt" beside itself.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH + 1] = {};
  wchar_t marker[MAX_PATH + 40] = {};
  const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  lstrcpyW(marker, path);
  wchar_t* name = marker + lstrlenW(marker);
  while (name > marker && name[-1] != L'\\') --name;
  lstrcpyW(name, L"planted_library_loaded.txt");
  HANDLE file = CreateFileW(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return TRUE;
  lstrcatW(path, L"\r\n");
  char line[3 * (MAX_PATH + 3)] = {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, path, -1, line, sizeof(line), nullptr, nullptr);
  DWORD written = 0;
  if (size > 1) WriteFile(file, line, static_cast<DWORD>(size - 1), &written, nullptr);
  CloseHandle(file);
  return TRUE;
}
