// Pinning the browser's shortcut to the taskbar: the shell verb "taskbarpin" on Windows 7
// to 8.1, the package's pinning executable run as a temporary "explorer.exe" on Windows
// 10 and later. The re-pinning mode pins again at most once in 182 days.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TASKBAR_PIN_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TASKBAR_PIN_H_

#include <string>

#include "base/files/file_path.h"
#include "base/win/windows_version.h"

namespace installer {

// Where the time of the last taskbar check is kept: HKEY_CURRENT_USER\<company key>,
// value "<stream> Last Band Check". The installation engine supplies its product's
// company key path and stream name.
struct PinStampLocation {
  std::wstring company_key_path;
  std::string stream_name;
};

enum PinMode {
  PIN_ALWAYS = 0,
  // Pins only when the last check is 182 days old or more; a first call only notes the time.
  PIN_AGAIN_AFTER_INTERVAL = 1,
};

// `helper_folder` holds the pinning executables (package or install folder).
[[nodiscard]] bool PinToTaskbar(const PinStampLocation& stamp, const base::FilePath& helper_folder,
                  const base::FilePath& shortcut, int mode);

// Runs the pinning executable of `helper_folder`, copied as "explorer.exe" into the
// temporary folder, on `shortcut`; true when it exits with 0.
[[nodiscard]] bool RunTaskbandHelper(const base::FilePath& helper_folder, const base::FilePath& shortcut);

// The pinning executable's file name for the machine's architecture.
const wchar_t* GetPinHelperName(base::OsInfo::Architecture architecture);

// The name of the stamp value.
std::wstring GetPinStampValueName(const std::string& stream_name);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TASKBAR_PIN_H_
