// The placeholder resolver used to register the browser's class, a protocol or a file
// extension. Its registrations are never recorded in the installation record.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_ASSOCIATION_PLACEHOLDER_RESOLVER_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_ASSOCIATION_PLACEHOLDER_RESOLVER_H_

#include <string>
#include <vector>

#include "desktop/windows/installer/service/placeholder_resolver.h"

namespace installer {

class AssociationPlaceholderResolver : public PlaceholderResolver {
 public:
  // |association_name| is the extension (with its ".") or the protocol; empty for the
  // browser's own class.
  AssociationPlaceholderResolver(const std::wstring& association_name,
                                 const std::wstring& install_folder);
  ~AssociationPlaceholderResolver() override;

  // "InstallFolder", "Stream", "Product", "Extension" and "Protocol" (exact case);
  // any other name resolves to itself.
  std::wstring Resolve(const std::wstring& name) override;
  // Always null.
  std::vector<InstallLog::RegistryKey>* GetRegistryLog(HKEY root) override;

 private:
  std::wstring association_name_;
  std::wstring install_folder_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_ASSOCIATION_PLACEHOLDER_RESOLVER_H_
