// The installer library's exported entry points.
#include <cstdio>

#include "base/command_line.h"
#include "base/win/handle_verifier.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/windows/installer/run_installer.h"
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
  // Before anything else reads a switch.
  base::CommandLine::Init();
  if (base::CommandLine::ForCurrentProcess()->HasSwitch("version")) {
    std::printf("%s", installer::GetBuildVersion().c_str());
    return true;
  }
  return false;
}
