// Paths as the system names them once opened: short (8.3) names would slip past the
// comparisons an elevated check makes.
#ifndef DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_LONG_PATH_H_
#define DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_LONG_PATH_H_

#include "base/files/file_path.h"
#include "base/result.h"

namespace installer {

// `path` without trailing separators, with the short names of the part that exists
// spelt out and the missing rest appended as it is. Fails when the existing part cannot
// be resolved.
[[nodiscard]] base::Result<base::FilePath> WithLongNames(const base::FilePath& path);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_LONG_PATH_H_
