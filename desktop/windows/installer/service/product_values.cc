#include "desktop/windows/installer/service/product_values.h"

namespace installer {

// No configuration is loaded yet: the configuration's own answers for missing keys.
std::string GetCompanyName() { return std::string(); }
std::string GetFileNameBase() { return std::string(); }
std::string GetBuildProductName() { return std::string(); }

std::string GetChannelName() { return "Stable"; }
int32_t GetChannel() { return 4; }

}  // namespace installer
