// Paths the installation is given or writes: the system's known folders, whether a path
// can name a file or folder to install into, and how a batch file can name a path.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_PATH_NAMES_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_PATH_NAMES_H_

#include <windows.h>

#include <shtypes.h>

#include <string>

#include "base/files/file_path.h"

namespace installer {

// The known folder |folder_id|, or on systems without known folders the CSIDL
// |fallback_csidl|; with |create| a missing folder is created.
bool GetKnownFolderPath(REFKNOWNFOLDERID folder_id, int fallback_csidl, base::FilePath* path,
                        bool create);

// Whether |path| can name a file (or with |is_folder| a folder) to install into: length,
// drive or server-and-share form, forbidden characters, blanks and dots at the ends of
// components, and the device names.
bool IsValidPath(const std::wstring& path, bool is_folder);
// Why IsValidPath refuses |path|, for the log ("illegal character", "trailing dot or
// blank", "too long", ...); null when it accepts it.
const char* GetInvalidPathReason(const std::wstring& path, bool is_folder);

// `path` as a batch file can name it: cmd.exe reads a batch in a code page, which may
// not hold every letter of the path, so an existing path with letters outside ASCII is
// given by its short (8.3) form when the file system has an ASCII one.
std::wstring GetBatchSafePath(const std::wstring& path);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_PATH_NAMES_H_
