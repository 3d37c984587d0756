// The installer's own working folder (downloads, unpacked package, log): a place where
// the user can create files and from which programs may run. Some systems forbid
// starting executables from the temporary folder, so a copy of a test program is run
// in each candidate before it is accepted.
//
//   base::FilePath folder;
//   if (!ObtainInstallerTempFolder(L"Velum Installer", own_exe, &folder)) ...
#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_TEMP_FOLDER_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_TEMP_FOLDER_H_

#include <vector>

#include "base/files/file_path.h"

namespace installer {

// The first of the temporary folder, the Downloads folder, the user profile and the
// executable's folder in which `folder_name` can be made and, unless `test_executable`
// is empty, a copy of it runs with "--version". False when none works.
[[nodiscard]] bool ObtainInstallerTempFolder(const base::FilePath& folder_name,
                                             const base::FilePath& test_executable,
                                             base::FilePath* folder);

// The same for the one base named by the path key `path_key`.
[[nodiscard]] bool ObtainInstallerTempFolderUnder(const base::FilePath& folder_name,
                                                  const base::FilePath& test_executable,
                                                  base::FilePath* folder, int path_key);

// Copies the part of the executable `from` that runs (its headers and sections) to `to`,
// leaving out whatever is appended (a payload, a certificate table); a file that is no
// readable image is copied whole. The probe runs "--version", which needs nothing more.
[[nodiscard]] bool CopyExecutableImage(const base::FilePath& from, const base::FilePath& to);

// The candidate bases that can be named now, in the order they are tried.
std::vector<base::FilePath> GetInstallerTempFolderBases();

// Tries `bases` in order; what the two functions above do once the bases are known.
[[nodiscard]] bool ObtainInstallerTempFolderFrom(const std::vector<base::FilePath>& bases,
                                                 const base::FilePath& folder_name,
                                                 const base::FilePath& test_executable,
                                                 base::FilePath* folder);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_TEMP_FOLDER_H_
