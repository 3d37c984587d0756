#include "desktop/windows/installer/elevated_helper/elevated_program_check.h"

#include <windows.h>

#include <string>

#include "base/base_paths.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "desktop/windows/installer/verification/authenticode.h"

namespace installer {

base::FilePath RunningInstallerPath() {
  base::FilePath path;
  if (!base::PathRegistry::Get(base::FILE_EXE, &path)) path.clear();
  return path;
}

bool HoldVerifiedProgram(const base::FilePath& program, base::ScopedHandle* hold) {
  return HoldVerifiedProgram(program, RunningInstallerPath(), hold);
}

bool HoldVerifiedProgram(const base::FilePath& program, const base::FilePath& running_installer,
                         base::ScopedHandle* hold) {
  // Readers only: starting the program still works, replacing it does not.
  hold->Set(CreateFileW(program.value().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!hold->IsValid()) {
    PLOG(ERROR) << "Not running " << program.AsUTF8() << ": it cannot be opened";
    return false;
  }
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

}  // namespace installer
