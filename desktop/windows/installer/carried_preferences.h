// What an elevated installation keeps of the preference data a standard user's package
// folder hands it: the installed files are every account's defaults, so the welcome
// address is carried only when it is a web page's (the preference overrides are not
// carried at all).
//
//   if (IsWebPageAddress(welcome_url)) Carry(welcome_url);
#ifndef DESKTOP_WINDOWS_INSTALLER_CARRIED_PREFERENCES_H_
#define DESKTOP_WINDOWS_INSTALLER_CARRIED_PREFERENCES_H_

#include <string>

namespace installer {

// Whether `address` is an http or https URL of a host, as written: the only kind of
// welcome address the installer is given.
bool IsWebPageAddress(const std::string& address);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_CARRIED_PREFERENCES_H_
