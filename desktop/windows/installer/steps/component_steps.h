// The installers of additional components ("suite", "assistant") that the package
// fetcher puts beside the package: InstallComponentsStep runs each requested one, once
// its signature is verified, and records those that succeed; UninstallComponentsStep
// starts the uninstaller of every recorded component that lies inside the install
// folder.
#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_COMPONENT_STEPS_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_COMPONENT_STEPS_H_

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "base/files/file_path.h"
#include "desktop/windows/installer/steps/installer_step.h"

namespace installer {

class InstallationContext;

// The entries of a "components" switch ("name:folder|name:folder"), trimmed; entries
// with an empty name or folder are dropped.
std::vector<std::pair<std::wstring, std::wstring>> SplitComponentList(const std::wstring& list);

// `folder` \ name + "_installer.exe"; for "suite" the assistant's installer when the
// suite's own is missing.
base::FilePath GetComponentInstallerPath(const base::FilePath& folder, const std::wstring& name);

class InstallComponentsStep : public ContextStep {
 public:
  using ContextStep::ContextStep;
  StepResult Run(int32_t attempt) override;

 private:
  void InstallComponent(const std::wstring& entry);
};

class UninstallComponentsStep : public ContextStep {
 public:
  using ContextStep::ContextStep;
  StepResult Run(int32_t attempt) override;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_COMPONENT_STEPS_H_
