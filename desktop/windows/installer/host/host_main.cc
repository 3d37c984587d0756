// The installer host: runs the installer and turns its result into the exit status
// (0 success, 1 failure). The library's code is linked into this executable so that the
// downloaded installer is one file that runs wherever it is put; the payload the
// installer reads is appended after the image.
#include <windows.h>

#include <cstdio>

#include "base/native_library.h"
#include "desktop/windows/installer/front_end/run_installer.h"

int wmain() {
  // The installer is run from a downloads folder, elevated too: a DLL planted there must
  // never be loaded. The host imports only known system DLLs; the others are loaded on
  // first use (delay-loaded), after this.
  // A failure is logged; the current directory is out of the search all the same.
  static_cast<void>(base::RestrictDllSearchToSystemFolder());
  const bool ok = RunInstaller();
  std::fflush(stdout);
  return ok ? 0 : 1;
}
