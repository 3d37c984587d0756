#include "desktop/windows/installer/service/association_placeholder_resolver.h"

#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/service/product_values.h"

namespace installer {

AssociationPlaceholderResolver::AssociationPlaceholderResolver(
    const std::wstring& association_name, const std::wstring& install_folder)
    : association_name_(association_name), install_folder_(install_folder) {}

AssociationPlaceholderResolver::~AssociationPlaceholderResolver() = default;

std::wstring AssociationPlaceholderResolver::Resolve(const std::wstring& name) {
  if (name == L"InstallFolder") return install_folder_;
  if (name == L"Stream") return base::ASCIIToWide(GetChannelName());
  if (name == L"Product") return base::ASCIIToWide(GetBuildProductName());
  if (name == L"Extension" || name == L"Protocol") return association_name_;
  return name;
}

std::vector<InstallLog::RegistryKey>* AssociationPlaceholderResolver::GetRegistryLog(
    HKEY /*root*/) {
  return nullptr;
}

}  // namespace installer
