// One spelling per folder for the names that only text can compare: kernel object names
// are case-sensitive text, so "C:\Apps\Velum\", "C:\APPS\VELUM" and an 8.3 name of it
// would name several mutexes for one folder.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_PATH_SPELLING_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_PATH_SPELLING_H_

#include "base/files/file_path.h"

namespace installer {

// `path` with "\" for "/", no empty components and no trailing separator (a drive's
// root keeps its own), an upper-case drive letter, and each component that exists
// spelt as its parent folder lists it: its long name in its own letters. Links are
// listed as links, never followed to their target's name. From the first component that
// is missing or cannot be listed on, the rest stays as given.
base::FilePath SpellAsListed(const base::FilePath& path);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_PATH_SPELLING_H_
