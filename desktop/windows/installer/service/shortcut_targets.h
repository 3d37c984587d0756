// Which shortcuts and taskbar pins point at a file: by path, ignoring case, or by the
// file's identity (volume and file index), which a hard link or another spelling of the
// path shares.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_SHORTCUT_TARGETS_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_SHORTCUT_TARGETS_H_

#include <windows.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"

namespace installer {

// The identity record of an existing file or folder.
bool GetFileInformation(const base::FilePath& path, BY_HANDLE_FILE_INFORMATION* information);

// Whether the shortcut exists and points at |target|: the same path ignoring case, or,
// when |target_information| is given, the same file (volume and file index).
bool TestShortcut(const base::FilePath& shortcut_path, const base::FilePath& target,
                  const BY_HANDLE_FILE_INFORMATION* target_information);

// Appends the taskbar pins (Windows 7 and later) that point at |target| and whose
// application id ends with "." + |app_id| (ignoring ASCII case).
void FindProductShortcuts(const base::FilePath& target, const std::string& app_id,
                          const BY_HANDLE_FILE_INFORMATION* target_information,
                          std::vector<std::wstring>* shortcuts);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_SHORTCUT_TARGETS_H_
