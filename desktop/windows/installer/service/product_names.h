// Names the installation derives from the product configuration: the executable's file
// name, the stream names and the registry keys of the company and the uninstall entries.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_PRODUCT_NAMES_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_PRODUCT_NAMES_H_

#include <stdint.h>

#include <string>

namespace installer {

// The product's file name base + ".exe".
std::string GetExecutableFileName();

// 1 "Nightly", 2 "Developer", 3 "Next", 4 "Stable", any other the configuration's name.
std::string GetStreamNameFor(int32_t stream);
// The build's stream name.
std::string GetStreamName();

// "Software\" + the company name (each byte widened).
std::wstring GetCompanyRegistryKeyPath();
// "Software\Microsoft\Windows\CurrentVersion\Uninstall".
std::wstring GetUninstallKeyPath();

// Each byte becomes one UTF-16 unit, as the configuration's narrow names are widened.
std::wstring WidenBytes(const std::string& text);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_PRODUCT_NAMES_H_
