// The steps of each operation, in order, and the factories that turn each entry into
// step objects (one per listed file for the file entries).
#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_INSTALLER_STEP_LIST_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_INSTALLER_STEP_LIST_H_

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "desktop/windows/installer/steps/installer_step.h"

namespace installer {

class InstallLog;

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
  kCount,  // not a kind: the number of kinds
};

// The list of a Settings operation; empty for an invalid one.
std::vector<InstallerStepKind> GetInstallerStepKinds(int32_t operation);

// What the step factories take from the running installation; borrowed for the steps'
// lifetime.
struct StepSources {
  InstallationContext* context = nullptr;
  // The package's files list and root files list.
  const std::vector<std::string>* files = nullptr;
  const std::vector<std::string>* root_files = nullptr;
  // The record of the installation being replaced; null when none.
  const InstallLog* existing = nullptr;
  // Where the registry step leaves the uninstall key it chose.
  std::wstring* uninstall_key = nullptr;
};

// Appends the steps of `kind` to `steps`.
void AppendInstallerSteps(InstallerStepKind kind, const StepSources& sources,
                          std::vector<std::unique_ptr<InstallerStep>>* steps);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_INSTALLER_STEP_LIST_H_
