// What an elevated installation keeps of the preference data a standard user's package
// folder hands it (the welcome address, the default-preference overrides): the installed
// files are every account's defaults, so a value that names this machine's files is not
// carried. Everything else is carried as it was.
//
//   const base::Result<std::string> carried = WithoutLocalFileValues(user_text);
//   if (carried.ok()) Write(carried.value());
#ifndef DESKTOP_WINDOWS_INSTALLER_CARRIED_PREFERENCES_H_
#define DESKTOP_WINDOWS_INSTALLER_CARRIED_PREFERENCES_H_

#include <string>

#include "base/result.h"

namespace installer {

// Whether `address` is an http or https URL of a host, as written: the only kind of
// welcome address the installer is given.
bool IsWebPageAddress(const std::string& address);

// Whether `text` names a file of this machine or of a share: a "file:" URL (any case), a
// drive path ("C:\...", "C:/..."), a UNC or device path ("\\server\...", "\\?\...",
// "//server/..."), or a path from the current drive's root ("\Windows").
bool NamesLocalFile(const std::string& text);

// The JSON text `json` (as the overrides step reads it) written anew without the string
// values that name local files, each dropped one logged with where it was; a failure
// when it is not such JSON.
[[nodiscard]] base::Result<std::string> WithoutLocalFileValues(const std::string& json);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_CARRIED_PREFERENCES_H_
