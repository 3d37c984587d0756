// Whether a path is there, as the file operations must know it before they change
// anything: only "file not found" and "path not found" mean that nothing is there; any
// other failure to read the attributes leaves it unknown, and the operation must stop.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_PATH_STATE_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_PATH_STATE_H_

#include <windows.h>

#include "base/files/file_path.h"

namespace installer {

enum class PathState { kExists, kMissing, kUnknown };

// Reads a path's attributes as GetFileAttributesW does; tests pass one that fails.
typedef DWORD(WINAPI* FileAttributesReader)(const wchar_t* path);

// The state of |path|; |attributes| (may be null) receives its attributes when it exists.
// An unknown state is logged at ERROR.
PathState GetPathState(const base::FilePath& path, DWORD* attributes,
                       FileAttributesReader read_attributes = &GetFileAttributesW);
// The same, and *folder_exists (may be null) tells whether the folder holding |path| is
// there: the system answers "file not found" for a missing item of an existing folder
// and "path not found" when the folder is missing too (or is a file). One read then
// serves where the folder and the item would each be read.
PathState GetPathState(const base::FilePath& path, DWORD* attributes, bool* folder_exists,
                       FileAttributesReader read_attributes = &GetFileAttributesW);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_PATH_STATE_H_
