// Supplies the text of placeholders ("{Name}") in registry templates and, optionally,
// the installation record's list where applied registry values are recorded.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_PLACEHOLDER_RESOLVER_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_PLACEHOLDER_RESOLVER_H_

#include <windows.h>

#include <string>
#include <vector>

#include "desktop/windows/installer/service/install_log.h"

namespace installer {

class PlaceholderResolver {
 public:
  virtual ~PlaceholderResolver() = default;

  // The text for the placeholder |name| (given without braces).
  virtual std::wstring Resolve(const std::wstring& name) = 0;

  // The record's key list for values applied under |root|, or null when applied
  // values are not recorded.
  virtual std::vector<InstallLog::RegistryKey>* GetRegistryLog(HKEY root) = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_PLACEHOLDER_RESOLVER_H_
