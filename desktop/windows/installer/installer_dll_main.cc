// The installer library's exported entry points.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>

#include "desktop/windows/installer/run_installer.h"

extern "C" VELUM_INSTALLER_API bool RunInstaller() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  bool version = false;
  for (int i = 1; argv && i < argc; ++i) {
    if (lstrcmpiW(argv[i], L"--version") == 0) version = true;
  }
  LocalFree(argv);
  if (version) {
    std::printf("%s", VELUM_PRODUCT_VERSION);
    return true;
  }
  return false;
}
