// Checks of file names that come from outside (archive entries, server replies) before
// they name a file on disk.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_FILE_NAME_CHECKS_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_FILE_NAME_CHECKS_H_

#include <string>

namespace installer {

// True for a name that Windows opens as a device in any folder: CON, PRN, AUX, NUL,
// COM0-9, LPT0-9, CONIN$, CONOUT$, in any case, with any extension and with trailing
// blanks or dots (which Windows drops).
bool IsDeviceName(const std::wstring& component);

// True for a plain file name that stays in the folder it is appended to: not empty, no
// separators, drive or stream colons, "." or "..", and no device name.
bool IsBareFileName(const std::wstring& name);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_FILE_NAME_CHECKS_H_
