// The installer library's exported entry points.
#include "base/native_library.h"
#include "base/win/handle_verifier.h"
#include "desktop/windows/installer/front_end/run_installer.h"
#include "desktop/windows/installer/front_end/run_installer_process.h"
#include "desktop/windows/installer/startup_checks.h"

namespace {

// From the runtime's table of C initialisers: before any constructor of the library, and
// before the allocator's own initialiser.
int CheckProcessorAtLoad() {
  installer::CheckProcessorSupportsSse2();
  return 0;
}

typedef int (*StartupInitializer)();
__attribute__((section(".CRT$XIB"), used)) StartupInitializer g_processor_check =
    &CheckProcessorAtLoad;

}  // namespace

// Lends this library's handle verifier to modules loaded into the same process, or hands
// on the host's when the host exports its own.
extern "C" VELUM_INSTALLER_API base::HandleVerifier* GetHandleVerifier() {
  return base::GetHandleVerifier();
}

extern "C" VELUM_INSTALLER_API bool RunInstaller() {
  // The library's delay-loaded system DLLs load at their first call: never from beside
  // the program that loaded the library.
  (void)base::RestrictDllSearchToSystemFolder();
  return installer::RunInstallerProcess();
}
