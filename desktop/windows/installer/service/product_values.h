// The product configuration values that the system services read. They stand here, in
// one place, until the product configuration read from the host's resource answers them.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_PRODUCT_VALUES_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_PRODUCT_VALUES_H_

#include <stdint.h>

#include <string>

namespace installer {

// "company_name" of the configuration; empty when missing.
std::string GetCompanyName();
// "file_name_base" of the configuration; empty when missing.
std::string GetFileNameBase();
// The product name of the configuration.
std::string GetBuildProductName();
// The build's stream name: "Stable".
std::string GetChannelName();
// The build's stream number: 4 ("Stable").
int32_t GetChannel();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_PRODUCT_VALUES_H_
