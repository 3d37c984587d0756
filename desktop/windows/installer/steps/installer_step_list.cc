#include "desktop/windows/installer/steps/installer_step_list.h"

#include "base/files/file_path.h"
#include "desktop/windows/installer/service/install_folder_files.h"
#include "desktop/windows/installer/steps/component_steps.h"
#include "desktop/windows/installer/steps/file_steps.h"
#include "desktop/windows/installer/steps/finalize_installation_steps.h"
#include "desktop/windows/installer/steps/installation_context.h"
#include "desktop/windows/installer/steps/installation_status_steps.h"
#include "desktop/windows/installer/steps/registry_steps.h"
#include "desktop/windows/installer/service/executable_architecture.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/steps/shortcut_steps.h"
#include "desktop/windows/installer/steps/uninstall_steps.h"
#include "desktop/windows/installer/steps/write_installer_prefs_step.h"

namespace installer {

namespace {

using K = InstallerStepKind;
using Steps = std::vector<std::unique_ptr<InstallerStep>>;

template <typename T>
void AppendStep(const StepSources& sources, Steps* steps) {
  steps->push_back(std::make_unique<T>(sources.context));
}

template <typename T>
void AppendFileSteps(InstallationContext* context, const std::vector<std::string>& files,
                     Steps* steps) {
  for (const std::string& file : files) steps->push_back(std::make_unique<T>(context, file));
}

struct StepFactory {
  InstallerStepKind kind;
  void (*append)(const StepSources& sources, Steps* steps);
};

// One row per kind, in the order of InstallerStepKind.
constexpr StepFactory kStepFactories[] = {
    {K::kInstalledFiles,
     [](const StepSources& s, Steps* steps) {
       AppendFileSteps<InstalledFileStep>(s.context, *s.files, steps);
     }},
    {K::kRootFiles,
     [](const StepSources& s, Steps* steps) {
       AppendFileSteps<RootFileStep>(s.context, *s.root_files, steps);
     }},
    {K::kCopyLauncher, &AppendStep<CopyLauncherStep>},
    {K::kServerTrackingData, &AppendStep<ServerTrackingDataStep>},
    {K::kPrefDefaultOverrides, &AppendStep<PrefDefaultOverridesStep>},
    {K::kInstallerHelper, &AppendStep<InstallerHelperStep>},
    {K::kSetupRegistry,
     [](const StepSources& s, Steps* steps) {
       steps->push_back(std::make_unique<SetupRegistryStep>(s.context, s.uninstall_key));
     }},
    {K::kInstallShortcuts, &AppendStep<InstallShortcutsStep>},
    {K::kWriteInstallerPrefs, &AppendStep<WriteInstallerPrefsStep>},
    {K::kInstallComponents, &AppendStep<InstallComponentsStep>},
    {K::kWriteInstallationStatus, &AppendStep<WriteInstallationStatusStep>},
    {K::kSetupProtocolHandlers, &AppendStep<SetupProtocolHandlersStep>},
    {K::kFinalizeInstallation, &AppendStep<FinalizeInstallationStep>},
    {K::kRemoveInstalledFiles, &AppendStep<RemoveInstalledFilesStep>},
    {K::kRemoveOldRootFiles,
     [](const StepSources& s, Steps* steps) {
       steps->push_back(std::make_unique<RemoveOldRootFilesStep>(s.context, s.existing));
     }},
    {K::kCleanupRegistry,
     [](const StepSources& s, Steps* steps) {
       const base::FilePath launcher = s.context->GetInstallFolder().Append(kLauncherFileName);
       steps->push_back(
           std::make_unique<CleanupRegistryStep>(s.context, GetExecutableArchitecture(launcher)));
     }},
    {K::kUpdateShortcuts, &AppendStep<UpdateShortcutsStep>},
    {K::kPreserveInstallerStatus, &AppendStep<PreserveInstallerStatusStep>},
    {K::kRemoveShortcuts, &AppendStep<RemoveShortcutsStep>},
    {K::kFinalizeUninstallation, &AppendStep<FinalizeUninstallationStep>},
    {K::kUninstallComponents, &AppendStep<UninstallComponentsStep>},
    {K::kCleanupAfterUninstall, &AppendStep<CleanupAfterUninstallStep>},
    {K::kRegisterProtocolHandler, &AppendStep<RegisterProtocolHandlerStep>},
};

constexpr bool EveryKindHasItsRow() {
  size_t index = 0;
  for (const StepFactory& factory : kStepFactories) {
    if (static_cast<size_t>(factory.kind) != index++) return false;
  }
  return index == static_cast<size_t>(K::kCount);
}
static_assert(EveryKindHasItsRow(), "kStepFactories needs one row per step kind, in order");

}  // namespace

std::vector<InstallerStepKind> GetInstallerStepKinds(int32_t operation) {
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

void AppendInstallerSteps(InstallerStepKind kind, const StepSources& sources,
                          std::vector<std::unique_ptr<InstallerStep>>* steps) {
  const size_t index = static_cast<size_t>(kind);
  if (index < static_cast<size_t>(K::kCount)) kStepFactories[index].append(sources, steps);
}

}  // namespace installer
