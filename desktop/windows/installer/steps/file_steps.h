// The file steps of an installation: one object per copied file.
#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_FILE_STEPS_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_FILE_STEPS_H_

#include <string>

#include "desktop/windows/installer/steps/file_step.h"

namespace installer {

// A file of the package's files list, into the version subfolder; recorded.
class InstalledFileStep : public FileStep {
 public:
  InstalledFileStep(InstallationContext* context, const std::string& file_name);

 protected:
  base::FilePath GetTargetFolder() override;
  bool IsTargetFolderMadeByThisRun() override;
  void OnCopied() override;
};

// A file of the package's root files list, into the install folder; recorded.
class RootFileStep : public FileStep {
 public:
  RootFileStep(InstallationContext* context, const std::string& file_name);

 protected:
  base::FilePath GetTargetFolder() override;
  void OnCopied() override;
};

// "launcher.exe" into the install folder, and, where an earlier browser executable was
// already replaced by the launcher (or the folder holds a legacy-engine installation),
// also under the product's executable name.
class CopyLauncherStep : public FileStep {
 public:
  explicit CopyLauncherStep(InstallationContext* context);

 protected:
  base::FilePath GetTargetFolder() override;
  void OnCopied() override;
};

// The installer helper of the machine's native architecture, into the version
// subfolder; optional; recorded.
class InstallerHelperStep : public InstalledFileStep {
 public:
  explicit InstallerHelperStep(InstallationContext* context);

 protected:
  bool IsRequired() override { return false; }
};

// The file named by "server-tracking-data", as "server_tracking_data"; optional.
class ServerTrackingDataStep : public FileStep {
 public:
  explicit ServerTrackingDataStep(InstallationContext* context);

 protected:
  bool IsRequired() override { return false; }
  bool ShouldSkip(const base::FilePath& source) override;
  std::string GetTargetName() override;
  base::FilePath GetTargetFolder() override;
};

// "pref_default_overrides" when it holds readable JSON; optional.
class PrefDefaultOverridesStep : public FileStep {
 public:
  explicit PrefDefaultOverridesStep(InstallationContext* context);

 protected:
  bool IsRequired() override { return false; }
  bool ShouldSkip(const base::FilePath& source) override;
  base::FilePath GetTargetFolder() override;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_FILE_STEPS_H_
