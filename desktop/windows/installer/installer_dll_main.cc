// The installer library's exported entry points.
#include <cstdio>

#include "base/command_line.h"
#include "desktop/windows/installer/run_installer.h"

extern "C" VELUM_INSTALLER_API bool RunInstaller() {
  // Before anything else reads a switch.
  base::CommandLine::Init();
  if (base::CommandLine::ForCurrentProcess()->HasSwitch("version")) {
    std::printf("%s", VELUM_PRODUCT_VERSION);
    return true;
  }
  return false;
}
