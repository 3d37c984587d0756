// The steps of each operation, in order. The Installer turns each entry into step
// objects (one per listed file for the file entries).
#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_STEP_LIST_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_STEP_LIST_H_

#include <stdint.h>

#include <vector>

namespace installer {

enum class InstallerStepKind {
  kInstalledFiles,  // one step per line of the files list
  kRootFiles,       // one step per line of the root files list
  kCopyLauncher,
  kServerTrackingData,
  kPrefDefaultOverrides,
  kInstallerHelper,
  kSetupRegistry,
  kInstallShortcuts,
  kWriteInstallerPrefs,
  kInstallComponents,
  kWriteInstallationStatus,
  kSetupProtocolHandlers,
  kFinalizeInstallation,
  kRemoveInstalledFiles,
  kRemoveOldRootFiles,
  kCleanupRegistry,
  kUpdateShortcuts,
  kPreserveInstallerStatus,
  kRemoveShortcuts,
  kFinalizeUninstallation,
  kUninstallComponents,
  kCleanupAfterUninstall,
  kRegisterProtocolHandler,
};

// The list of a Settings operation; empty for an invalid one.
std::vector<InstallerStepKind> GetInstallerStepKinds(int32_t operation);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_STEP_LIST_H_
