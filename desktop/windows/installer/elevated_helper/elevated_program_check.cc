#include "desktop/windows/installer/elevated_helper/elevated_program_check.h"

#include <windows.h>

#include <string>

#include "base/base_paths.h"
#include "base/files/file_util.h"
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
  return HoldVerifiedProgramAtFinalPath(program, running_installer, hold).ok();
}

base::Result<base::FilePath> HoldVerifiedProgramAtFinalPath(const base::FilePath& program,
                                                            base::ScopedHandle* hold) {
  return HoldVerifiedProgramAtFinalPath(program, RunningInstallerPath(), hold);
}

base::Result<base::FilePath> HoldVerifiedProgramAtFinalPath(
    const base::FilePath& program, const base::FilePath& running_installer,
    base::ScopedHandle* hold) {
  // Readers only: starting the program still works, replacing it does not.
  hold->Set(CreateFileW(program.value().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!hold->IsValid()) {
    const DWORD error = GetLastError();
    PLOG(ERROR) << "Not running " << program.AsUTF8() << ": it cannot be opened";
    return base::Failure{error, 0, "it cannot be opened", program};
  }
  // The held file, wherever links took the name: a folder on the name's way may be swapped
  // once the file is held, the held file cannot.
  base::Result<base::FilePath> final_path = base::GetFinalPathOfHandle(hold->Get());
  if (!final_path.ok()) {
    LOG(ERROR) << "Not running " << program.AsUTF8() << ": "
               << base::DescribeFailure(final_path.failure());
    hold->Close();
    return base::Failure{final_path.failure().error, 0, "its final path is unknown", program};
  }
  std::string error;
  if (running_installer.empty() || (IsSignatureRequiredBy(running_installer) &&
                                    !VerifyFileSignature(final_path.value(), &error))) {
    LOG(ERROR) << "Not running " << program.AsUTF8() << ": its signature does not verify. "
               << error;
    hold->Close();
    return base::Failure{0, 0, "its signature does not verify", program};
  }
  return final_path;
}

}  // namespace installer
