#include "desktop/windows/installer/elevated_helper/elevated_program_check.h"

#include <windows.h>

#include <string>

#include "base/base_paths.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "desktop/windows/installer/verification/authenticode.h"

namespace installer {

namespace {

base::FilePath* g_running_installer_for_testing = nullptr;

base::FilePath RunningInstaller() {
  if (g_running_installer_for_testing) return *g_running_installer_for_testing;
  base::FilePath path;
  if (!base::PathRegistry::Get(base::FILE_EXE, &path)) path.clear();
  return path;
}

}  // namespace

bool HoldVerifiedProgram(const base::FilePath& program, base::ScopedHandle* hold) {
  // Readers only: starting the program still works, replacing it does not.
  hold->Set(CreateFileW(program.value().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!hold->IsValid()) {
    PLOG(ERROR) << "Not running " << program.AsUTF8() << ": it cannot be opened";
    return false;
  }
  const base::FilePath running_installer = RunningInstaller();
  std::string error;
  if (running_installer.empty() ||
      (IsSignatureRequiredBy(running_installer) && !VerifyFileSignature(program, &error))) {
    LOG(ERROR) << "Not running " << program.AsUTF8() << ": its signature does not verify. "
               << error;
    hold->Close();
    return false;
  }
  return true;
}

void SetRunningInstallerForTesting(const base::FilePath* path) {
  delete g_running_installer_for_testing;
  g_running_installer_for_testing = path ? new base::FilePath(*path) : nullptr;
}

}  // namespace installer
