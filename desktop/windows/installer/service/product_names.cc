#include "desktop/windows/installer/service/product_names.h"

#include "base/channel_info.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"

namespace installer {

std::string GetExecutableFileName() {
  return GetFileNameBase() + ".exe";
}

std::string GetStreamNameFor(int32_t stream) {
  switch (stream) {
    case base::kChannelNightly:
      return "Nightly";
    case base::kChannelDeveloper:
      return "Developer";
    case base::kChannelNext:
      return "Next";
    case base::kChannelStable:
      return "Stable";
    default:
      return GetChannelName();
  }
}

std::string GetStreamName() {
  return GetStreamNameFor(GetChannel());
}

std::wstring GetCompanyRegistryKeyPath() {
  return L"Software\\" + WidenBytes(GetCompanyName());
}

std::wstring GetUninstallKeyPath() {
  return L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
}

std::wstring WidenBytes(const std::string& text) {
  std::wstring wide;
  wide.reserve(text.size());
  for (unsigned char c : text) wide.push_back(c);
  return wide;
}

}  // namespace installer
