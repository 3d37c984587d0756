// Whether the elevated folder-permission helper may give a user full control of a folder.
// The grant is inherited by everything below the folder, so a folder that is (or lies
// under) a reparse point, a drive root, a system or profile folder, or another program's
// folder must never receive it. The decision is made on the folder held open, by its
// final path and file identity, never on the spelling that was asked for.
//
//   base::FilePath normalized;
//   base::ScopedHandle hold;
//   if (NormalizeGrantFolder(asked, &normalized, &reason) &&
//       IsGrantablePlace(normalized, &reason) && ...create when missing... &&
//       HoldGrantableFolder(normalized, &hold, &reason))
//     ... act through `hold` ...
#ifndef DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_GRANT_FOLDER_CHECK_H_
#define DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_GRANT_FOLDER_CHECK_H_

#include <string>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"

namespace installer {

// The folder as the system resolves it: separators normalised, "." and ".." applied,
// short names of existing components made long. Refused, with `reason`, unless it is a
// plain "X:\..." path whose every name means what it says: no name the system would
// trim (trailing blanks or dots), no stream suffix (":"), no wildcard or device name.
[[nodiscard]] bool NormalizeGrantFolder(const base::FilePath& folder,
                                        base::FilePath* normalized, std::string* reason);

// The first existing path from `path` up to, but not including, `stop` (the whole way to
// the drive when `stop` is empty) that is a reparse point; false when there is none.
[[nodiscard]] bool FindReparsePoint(const base::FilePath& path, const base::FilePath& stop,
                                    base::FilePath* reparse_point);

// A first look by name, before anything is created: refuses, with the reason, a
// normalized folder that is a drive root, is or lies under a reparse point, is or
// contains a known system or profile folder, or lies under the Windows folder.
[[nodiscard]] bool IsGrantablePlace(const base::FilePath& folder, std::string* reason);

// Opens the existing normalized folder without following links and without delete
// sharing (it cannot be renamed or replaced while `hold` is open), with the rights to
// read and write its access list, and decides on that handle: its final path must be
// `folder`, and neither its final path nor its file identity may be a drive root, a
// system or profile folder, or hold one; it must be empty or hold this product's
// installation record naming it. False with the reason for anything it cannot check.
[[nodiscard]] bool HoldGrantableFolder(const base::FilePath& folder, base::ScopedHandle* hold,
                                       std::string* reason);

// Whether `path` is `folder` or lies under it, letters compared as Windows does.
bool IsSameOrUnder(const base::FilePath& path, const base::FilePath& folder);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_GRANT_FOLDER_CHECK_H_
