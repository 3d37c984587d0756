// The installer host: loads the installer library from its own folder, runs it and
// turns its result into the exit status (0 success, 1 failure, 2 library unusable).
#include <windows.h>

#include <cstdio>
#include <string>

#include "desktop/windows/installer/run_installer.h"

int wmain() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (length == 0) return 2;
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);  // a truncated path would load the wrong file
  }
  path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"velum_installer.dll";
  // A full path with the altered search order: never a library from the current folder.
  HMODULE library = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!library) {
    std::fprintf(stderr, "cannot load the installer library: %lu\n", GetLastError());
    return 2;
  }
  auto run = reinterpret_cast<RunInstallerFunction>(
      reinterpret_cast<void*>(GetProcAddress(library, "RunInstaller")));
  if (!run) {
    std::fprintf(stderr, "the installer library has no RunInstaller\n");
    return 2;
  }
  const bool ok = run();
  std::fflush(stdout);
  return ok ? 0 : 1;
}
