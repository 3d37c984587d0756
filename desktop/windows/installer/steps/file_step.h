// FileStep: a step that copies one file of the package into the installation through the
// installation's transaction, asking for retries while the copy fails.
#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_FILE_STEP_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_FILE_STEP_H_

#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/result.h"
#include "desktop/windows/installer/steps/installer_step.h"

namespace installer {

class InstallationContext;
class TransactionOperation;

// Puts a file written beside its destination, below the install folder, in place through
// the context's transaction and held folders, so that a rollback brings back what was
// there before, and removes the staging file.
base::Result<> InstallStagedFile(InstallationContext* context, const base::FilePath& staging,
                                 const base::FilePath& destination);

class FileStep : public ContextStep {
 public:
  // `file_name` names the source inside the package folder.
  FileStep(InstallationContext* context, const std::string& file_name);
  ~FileStep() override;

  // Reports "file_copy_retry" on every attempt after the first, then copies. A failed
  // copy asks for a retry; after the last one a required file fails the installation
  // with code 8 and an optional one is skipped.
  StepResult Run(int32_t attempt) final;

 protected:
  // After a successful copy (or skip).
  virtual void OnCopied() {}
  virtual bool IsRequired() { return true; }
  // Succeed without copying.
  virtual bool ShouldSkip(const base::FilePath& /*source*/) { return false; }
  virtual std::string GetTargetName() { return file_name_; }
  // A folder below the install folder.
  virtual base::FilePath GetTargetFolder() = 0;
  // Whether this run made the target folder, where nothing but its own copies can be: the
  // copy is tried there first, by path. Anywhere else it goes through the folders held
  // from the install folder down, a link on the way or at the name refused.
  virtual bool IsTargetFolderMadeByThisRun() { return false; }

  const std::string& file_name() const { return file_name_; }

 private:
  std::unique_ptr<TransactionOperation> MakeCopy(const base::FilePath& source,
                                                 const base::FilePath& destination);

  std::string file_name_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_FILE_STEP_H_
