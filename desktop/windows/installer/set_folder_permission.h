// The folder-permission helper: an elevated run of the installer that grants a
// user full control of the install folder while a non-elevated installation
// writes into it.
//
//   installer --set-folder-permission=<folder> --permissions-for-user=<user>
//             [--permanent-permissions] [--initial-pid=<pid>]
//             [--wait-for-package=<dir>]
//
// The helper sets "GiveInstallPermission" once the grant is in place and,
// unless the grant is permanent, puts the old access list back when the
// installation sets "GiveInstallPermission/Undo", is interrupted, or its
// process ends.
#ifndef DESKTOP_WINDOWS_INSTALLER_SET_FOLDER_PERMISSION_H_
#define DESKTOP_WINDOWS_INSTALLER_SET_FOLDER_PERMISSION_H_

#include <windows.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"

namespace base {
class CommandLine;
}

namespace installer {

// The helper mode for `command_line`; does nothing without
// "permissions-for-user". Failures end it quietly: the installation sees the
// missing signal.
void RunSetFolderPermission(const base::CommandLine& command_line);

// Starts "k.bat" of `folder` hidden, when it exists, without waiting for it.
void RunUninstallBat(const base::FilePath& folder);

// The pause after Undo before the old access list returns (10 s); tests shorten
// it.
void SetUndoDelayForTesting(DWORD milliseconds);

namespace internal {

// Adds a GENERIC_ALL entry for `user`, inherited by files and subfolders, to
// the DACL of the named object (SE_OBJECT_TYPE `object_type`) and sets
// `granted`. Unless `permanent`, waits for the first of `ends` (after Undo, the
// first of them, also the pause) and writes the old DACL back. False when the
// grant was not made.
bool GrantUntilEnd(const std::wstring& object_name, int object_type, const std::wstring& user,
                   bool permanent, HANDLE granted, const std::vector<HANDLE>& ends);

}  // namespace internal

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SET_FOLDER_PERMISSION_H_
