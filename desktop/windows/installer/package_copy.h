// The package as an elevated installer may read it: the user's package folder (and the
// component folders beside it) copied into a folder that only administrators can change,
// each entry held against writes, renames and links while it is copied. What the copied
// installer then reads beside itself is what was copied, whatever the user does to the
// package folder meanwhile, and no file the user adds later lies beside it.
//
//   AdminOnlyFolder folder;
//   base::FilePath copy;
//   if (folder.Create() && CopyPackage(package, components, folder.path(), &copy))
//     Run(copy.Append(L"installer.exe"));
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_COPY_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_COPY_H_

#include <string>

#include "base/files/file_path.h"

namespace installer {

// Copies the folder `package` with all it holds into `destination` under the package
// folder's own name, and beside it every folder that `components` ("name:folder|...")
// names beside the package, as the installer finds its components. `package_copy`
// receives the copied package folder. False, with the reason logged, when an entry is a
// link, is reached through one, or cannot be held or copied.
[[nodiscard]] bool CopyPackage(const base::FilePath& package, const std::wstring& components,
                               const base::FilePath& destination, base::FilePath* package_copy);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_COPY_H_
