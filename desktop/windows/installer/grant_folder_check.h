// Whether the elevated folder-permission helper may give a user full control of a folder.
// The grant is inherited by everything below the folder and the named-security calls
// follow links, so a folder that is (or lies under) a reparse point, a drive root, a
// system or profile folder, or another program's folder must never receive it.
#ifndef DESKTOP_WINDOWS_INSTALLER_GRANT_FOLDER_CHECK_H_
#define DESKTOP_WINDOWS_INSTALLER_GRANT_FOLDER_CHECK_H_

#include <string>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"

namespace installer {

// The folder as the system resolves it: separators normalised, "." and ".." applied,
// short names of existing components made long. False with `reason` for anything but a
// plain "X:\..." path.
[[nodiscard]] bool ResolveGrantFolder(const base::FilePath& folder, base::FilePath* resolved,
                                      std::string* reason);

// The first existing path from `path` up to, but not including, `stop` (the whole way to
// the drive when `stop` is empty) that is a reparse point; false when there is none.
[[nodiscard]] bool FindReparsePoint(const base::FilePath& path, const base::FilePath& stop,
                                    base::FilePath* reparse_point);

// Refuses, with the reason, a resolved folder that is a drive root, is or lies under a
// reparse point, is or contains a known system or profile folder, or lies under the
// Windows folder.
[[nodiscard]] bool IsGrantablePlace(const base::FilePath& folder, std::string* reason);

// Opens the existing folder so that it cannot be renamed or replaced while the handle is
// held, and refuses it when it is a reparse point, or holds anything but this product's
// installation. False with the reason.
[[nodiscard]] bool HoldGrantableFolder(const base::FilePath& folder, base::ScopedHandle* hold,
                                       std::string* reason);

// Whether `path` is `folder` or lies under it, letters compared as Windows does.
bool IsSameOrUnder(const base::FilePath& path, const base::FilePath& folder);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_GRANT_FOLDER_CHECK_H_
