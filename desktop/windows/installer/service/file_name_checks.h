// Checks of file names that come from outside (archive entries, server replies, the
// installation record) before they name a file on disk.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_FILE_NAME_CHECKS_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_FILE_NAME_CHECKS_H_

#include <string>

namespace installer {

// True for a name that Windows opens as a device in any folder: CON, PRN, AUX, NUL,
// COM0-9, LPT0-9 (also with the superscript digits 1, 2 and 3), CONIN$, CONOUT$, in
// any case, with any extension and with trailing blanks or dots (which Windows drops).
bool IsDeviceName(const std::wstring& component);

// Why a name cannot be used below a folder.
enum class NameProblem {
  kNone,
  // Empty, rooted, on a drive or a server, a stream (any colon), or "." or "..".
  kOutside,
  kDevice,
  // A control character (NUL included), a wildcard or "<>|\"", or a component ending in
  // a blank or a dot: Windows drops those, so the name would reach another file.
  kCharacter,
};

// Checks |path| as a path relative to a folder ("\" or "/" between its components):
// kNone only when it names something below that folder.
NameProblem CheckRelativePath(const std::wstring& path);

// True for a plain file name that stays in the folder it is appended to.
bool IsBareFileName(const std::wstring& name);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_FILE_NAME_CHECKS_H_
