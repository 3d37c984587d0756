// The elevated run of the clean-up batch ("k.bat") that an uninstallation leaves in
// the install folder of an all-users installation: the batch was written by the user,
// so it runs only as checked, only for the folder the elevated grant was made for,
// from a copy the user cannot change, and nothing it deletes can be redirected
// between the check and the deletion.
#ifndef DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_UNINSTALL_BATCH_RUNNER_H_
#define DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_UNINSTALL_BATCH_RUNNER_H_

#include <string>

#include "base/files/file_path.h"

namespace installer {

// Runs "k.bat" of `install_folder` when the grant for `granted_folder` (empty: none
// was made) succeeded for that same folder and the batch holds nothing but the
// clean-up the uninstallation writes for it. Waits for the processes the batch
// names, holds every folder on the way to each file it deletes (refusing links)
// until the batch has ended, then removes the folders it names that are empty.
// False (logged) when it did not run.
[[nodiscard]] bool RunUninstallBat(const base::FilePath& install_folder,
                                   const base::FilePath& granted_folder);

namespace internal {

// The batch's environment: the caller's, with PATH the system folder only.
std::wstring BatchEnvironment(const base::FilePath& system_folder);

}  // namespace internal

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_UNINSTALL_BATCH_RUNNER_H_
