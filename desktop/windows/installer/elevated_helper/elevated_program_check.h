// What an elevated installer starts of a file that a standard user could have put in
// place (the package folder lies in the user's temporary folder): when the running
// installer is signed, only a file that the expected signer signed, held so that it cannot
// change between the check and the start.
//
//   base::ScopedHandle hold;
//   if (HoldVerifiedProgram(program, &hold)) Launch(program);  // then let `hold` go
#ifndef DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_ELEVATED_PROGRAM_CHECK_H_
#define DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_ELEVATED_PROGRAM_CHECK_H_

#include "base/files/file_path.h"
#include "base/result.h"
#include "base/win/scoped_handle.h"

namespace installer {

// Opens `program` so that nobody can write, rename or delete it while `hold` is open,
// and verifies its signature and signer unless the running installer is an unsigned
// build. False, with the reason logged, when it must not run. `running_installer` is
// the installer whose signature decides; empty (it cannot be found) refuses.
[[nodiscard]] bool HoldVerifiedProgram(const base::FilePath& program,
                                       const base::FilePath& running_installer,
                                       base::ScopedHandle* hold);
// As above, decided by this process's own executable.
[[nodiscard]] bool HoldVerifiedProgram(const base::FilePath& program, base::ScopedHandle* hold);

// As above, and the held file's final path (links resolved): the path to start, since the
// folders on `program`'s way may lead elsewhere once the file is held.
[[nodiscard]] base::Result<base::FilePath> HoldVerifiedProgramAtFinalPath(
    const base::FilePath& program, const base::FilePath& running_installer,
    base::ScopedHandle* hold);
[[nodiscard]] base::Result<base::FilePath> HoldVerifiedProgramAtFinalPath(
    const base::FilePath& program, base::ScopedHandle* hold);

// This process's executable; empty when it cannot be found.
[[nodiscard]] base::FilePath RunningInstallerPath();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_ELEVATED_PROGRAM_CHECK_H_
