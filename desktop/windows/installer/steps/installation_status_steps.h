// The steps that keep the installation record: writing the new one, setting the previous
// one aside in "old_status" during an upgrade, and removing the files of old versions
// and their records.
#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_INSTALLATION_STATUS_STEPS_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_INSTALLATION_STATUS_STEPS_H_

#include <stdint.h>

#include <memory>

#include "base/files/file_path.h"
#include "desktop/windows/installer/service/held_tree.h"
#include "desktop/windows/installer/steps/installer_step.h"

namespace installer {

class InstallationContext;
class InstallLog;

// "old_status\installation_status.xml.<seconds since 1970>" of `install_folder`; when a
// copy of that second is already there, the next free number, so no earlier copy (and
// the old version it accounts for) is overwritten.
base::FilePath GetNewOldStatusPath(const base::FilePath& install_folder, int64_t seconds);

// Writes the new record to "installation_status.xml"; fails (no retry) when it cannot.
class WriteInstallationStatusStep : public ContextStep {
 public:
  using ContextStep::ContextStep;
  StepResult Run(int32_t attempt) override;
};

// Moves the previous record (or the legacy record file) into "old_status".
class PreserveInstallerStatusStep : public ContextStep {
 public:
  using ContextStep::ContextStep;
  StepResult Run(int32_t attempt) override;
};

// Deletes the files of every version recorded in "old_status" and the records whose
// files are all gone. During an upgrade a version with a file in use stays whole.
class RemoveInstalledFilesStep : public ContextStep {
 public:
  using ContextStep::ContextStep;
  StepResult Run(int32_t attempt) override;

 private:
  // The files of the version the record `path` accounts for, then the record, acting
  // through `tree`.
  void RemoveOldVersion(const std::shared_ptr<HeldTree>& tree, const base::FilePath& path);
};

// Deletes the root files of the previous version (`existing`, may be null).
class RemoveOldRootFilesStep : public ContextStep {
 public:
  RemoveOldRootFilesStep(InstallationContext* context, const InstallLog* existing);
  StepResult Run(int32_t attempt) override;

 private:
  const InstallLog* existing_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_INSTALLATION_STATUS_STEPS_H_
