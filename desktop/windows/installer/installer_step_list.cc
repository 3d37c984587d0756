#include "desktop/windows/installer/installer_step_list.h"

#include "desktop/windows/installer/settings.h"

namespace installer {

std::vector<InstallerStepKind> GetInstallerStepKinds(int32_t operation) {
  using K = InstallerStepKind;
  switch (operation) {
    case Settings::OPERATION_INSTALL:
      return {K::kInstalledFiles,       K::kRootFiles,           K::kCopyLauncher,
              K::kServerTrackingData,   K::kPrefDefaultOverrides, K::kInstallerHelper,
              K::kSetupRegistry,        K::kInstallShortcuts,    K::kWriteInstallerPrefs,
              K::kInstallComponents,    K::kWriteInstallationStatus,
              K::kSetupProtocolHandlers, K::kFinalizeInstallation};
    case Settings::OPERATION_UPGRADE:
      // The previous record is set aside late, so its version stays on disk until the
      // next upgrade removes it.
      return {K::kRemoveInstalledFiles, K::kInstalledFiles,        K::kRemoveOldRootFiles,
              K::kRootFiles,            K::kCopyLauncher,          K::kServerTrackingData,
              K::kPrefDefaultOverrides, K::kInstallerHelper,       K::kCleanupRegistry,
              K::kSetupRegistry,        K::kUpdateShortcuts,       K::kWriteInstallerPrefs,
              K::kPreserveInstallerStatus, K::kInstallComponents,  K::kWriteInstallationStatus,
              K::kSetupProtocolHandlers, K::kFinalizeInstallation};
    case Settings::OPERATION_UNINSTALL:
      return {K::kCleanupRegistry,       K::kRemoveShortcuts,      K::kFinalizeUninstallation,
              K::kRemoveInstalledFiles,  K::kUninstallComponents,  K::kCleanupAfterUninstall};
    case Settings::OPERATION_REGISTER_PROTOCOL_HANDLER:
      return {K::kRegisterProtocolHandler, K::kWriteInstallerPrefs};
    default:
      return {};
  }
}

}  // namespace installer
