// OsOperations: the default-browser and file-handler set-up of an installation, reached
// by the steps through the installation context. OsOperationsImpl works on the
// installation information of the install folder.
#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_OS_OPERATIONS_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_OS_OPERATIONS_H_

#include "base/result.h"

namespace installer {

class InstallLog;
class Settings;

class OsOperations {
 public:
  virtual ~OsOperations() = default;
  // Makes the browser the default as the settings ask, or registers its classes for
  // the current user. `record` (may be null) gives the kind of the new installation.
  // Fails, after logging each part that failed, when any did; the other parts are
  // still tried. The failure's text names the parts.
  virtual base::Result<> SetUpDefaultBrowser(const Settings& settings,
                                             const InstallLog* record) = 0;
};

class OsOperationsImpl : public OsOperations {
 public:
  base::Result<> SetUpDefaultBrowser(const Settings& settings,
                                     const InstallLog* record) override;
};

// Tells every window and the shell that the browser registration changed.
void NotifyAssociationsChanged();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_OS_OPERATIONS_H_
