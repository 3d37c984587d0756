#include "desktop/windows/installer/front_end/front_end_system.h"

#include <windows.h>

#include "base/path_service.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/security/access_control.h"

namespace installer {

namespace {

const DWORD kSse2Feature = 10;  // PF_XMMI64_INSTRUCTIONS_AVAILABLE

}  // namespace

FrontEndSystem::FrontEndSystem()
    : needs_elevation(&NeedsElevation),
      before_windows_7([] { return base::GetWindowsVersion() < base::OS_VERSION_WIN7; }),
      has_sse2([] { return IsProcessorFeaturePresent(kSse2Feature) != FALSE; }) {
  if (!base::PathRegistry::Get(base::DIR_EXE, &own_folder)) own_folder = base::FilePath();
}

}  // namespace installer
