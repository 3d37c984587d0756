// The names the installer front end derives from the product name: the
// installer's own folder, its log file and the texts formatted with the product
// name.
#ifndef DESKTOP_WINDOWS_INSTALLER_FRONT_END_RUN_INSTALLER_NAMES_H_
#define DESKTOP_WINDOWS_INSTALLER_FRONT_END_RUN_INSTALLER_NAMES_H_

#include <windows.h>

#include <string>

#include "base/files/file_path.h"

namespace base {
class CommandLine;
}

namespace installer {

class AdminOnlyFolder;

// printf of `format` with the product name (ASCII lower-cased with
// `lower_case`) as its one argument. The name is read once per process.
std::string FormatWithProductName(const char* format, bool lower_case);

// "<product> Installer": the installer's folder under the temporary directory.
std::wstring GetInstallerFolderName();

// "<product>_installer_YYYYMMDDhhmmssmmm.log" for `local_time`.
std::wstring GetInstallerLogFileName(const SYSTEMTIME& local_time);

// The log file for a run starting now: in the installer's folder under the
// temporary directory, or the bare name (the current directory) when that
// folder cannot be made.
base::FilePath InitInstallerLogging();

// The log file of an elevated run: in `folder`, made new, that only administrators can
// change (nothing elevated writes by name into the user's temporary folder, which the
// user can turn into a link); empty when that folder cannot be made. The run keeps the
// folder until its end: removed after a success, left for a look after a failure (a
// later elevated run removes it).
base::FilePath InitElevatedInstallerLogging(AdminOnlyFolder* folder);

// The last element of the argument vector when it is an absolute path ("X:\..."
// or
// "\\..."), else empty.
[[nodiscard]] base::FilePath RecoverInstallFolderFromCommandLine(
    const base::CommandLine& command_line);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_FRONT_END_RUN_INSTALLER_NAMES_H_
