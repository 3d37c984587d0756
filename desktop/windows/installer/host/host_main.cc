// The installer host: runs the installer and turns its result into the exit status
// (0 success, 1 failure). The library's code is linked into this executable so that the
// downloaded installer is one file that runs wherever it is put; the payload the
// installer reads is appended after the image.
#include <windows.h>

#include <cstdio>

#include "desktop/windows/installer/front_end/run_installer.h"

int wmain() {
  const bool ok = RunInstaller();
  std::fflush(stdout);
  return ok ? 0 : 1;
}
