// InstallationContext: what an installation step sees of the running installation. The
// Installer implements it; steps keep a non-owning pointer to it.
#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_INSTALLATION_CONTEXT_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_INSTALLATION_CONTEXT_H_

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"

namespace installer {

class HeldInstallFolder;
class HeldTree;
class InstallLog;
struct InstallerSystem;
class OsOperations;
class PlaceholderResolver;
class Settings;
class Transaction;

// The installer's error codes, reported with a failed installation.
enum InstallerError : uint32_t {
  INSTALLER_ERROR_GENERAL = 0,
  INSTALLER_ERROR_UNINSTALL_INCOMPLETE = 1,
  INSTALLER_ERROR_INVALID_OPERATION = 2,
  INSTALLER_ERROR_INVALID_FOR_AUTOUPDATE = 3,
  INSTALLER_ERROR_CREATE_FOLDER = 4,
  INSTALLER_ERROR_NO_WRITE_ACCESS = 5,
  INSTALLER_ERROR_ELEVATION = 6,
  INSTALLER_ERROR_BROWSER_IN_USE = 7,
  INSTALLER_ERROR_FILE_COPY = 8,
  INSTALLER_ERROR_CREATE_MUTEX = 9,
  INSTALLER_ERROR_MUTEX_HELD = 10,
};

class InstallationContext {
 public:
  virtual Settings* GetSettings() = 0;
  // Every system change of a step goes through it, so that a failure undoes it.
  virtual Transaction* GetTransaction() = 0;
  // Default-browser set-up; null until that service exists.
  virtual OsOperations* GetOsOperations() = 0;
  // The folder of the running installer: the unpacked package.
  virtual const base::FilePath& GetPackageFolder() = 0;
  virtual const base::FilePath& GetInstallFolder() = 0;
  // Where the file steps copy to; the install folder.
  virtual const base::FilePath& GetTargetFolder() = 0;
  // The new installation record this run fills.
  virtual InstallLog* GetInstallLog() = 0;
  // The non-elevated installer that started this one, or the folder-permission helper;
  // 0 when none.
  virtual uint32_t GetSecondInstallerPid() = 0;
  virtual PlaceholderResolver* GetPlaceholderResolver() = 0;
  // The folder-permission helper waits to act when the installer finishes.
  virtual bool HasPermissionHelper() = 0;
  // While on, registry values applied through the resolver are noted in the record.
  virtual void StartRegistryLogging() = 0;
  virtual void StopRegistryLogging() = 0;
  virtual void ReportImportantEvent(const std::string& name) = 0;
  // The install folder holds a recorded installation.
  virtual bool HasExistingInstallation() = 0;
  // That installation was made by the legacy engine.
  virtual bool IsBasaltInstallation() = 0;
  // The "server-tracking-data" switch of the process; empty when absent.
  virtual std::string GetServerTrackingData() = 0;
  // Files an uninstallation could not delete while it runs (an interrupted run's that this
  // running program holds, an earlier version's that could not be set aside): its
  // clean-up batch deletes them once the installer has ended.
  virtual std::vector<base::FilePath>* GetFilesLeftToCleanupBatch() = 0;
  // The note of this run, which the clean-up batch then removes after it deletes `left`
  // (until then a later run finishes what the batch did not). Empty when there is none, or
  // when a file of `left` is none of `waited_programs`, the program files of the processes
  // the batch waits for (another program may hold it past the batch): the run then keeps
  // its note, naming `left` alone, for a later run to finish.
  virtual base::FilePath LeaveRunNoteToBatch(
      const std::vector<base::FilePath>& /*left*/,
      const std::vector<base::FilePath>& /*waited_programs*/) {
    return base::FilePath();
  }
  // Whether this run made the new record's version folder, which was missing until then.
  virtual bool IsVersionFolderMadeByThisRun() = 0;
  // The install folder as the run holds it, from before its notes are read until its
  // transaction has been committed or rolled back: what a step removes below the folder
  // goes through it. Null while it is not held.
  virtual const HeldInstallFolder* GetHeldInstallFolder() { return nullptr; }
  // Returns once a connection to the task scheduler made ahead of the steps has ended.
  virtual void WaitForTaskService() {}
  // The system services the steps reach: the running system's, or a test's.
  virtual const InstallerSystem& GetSystem() = 0;
  // The install folder held with the folders below it that the deletions a record asks
  // for act through, shared while one of them holds it; null when it cannot be held.
  virtual std::shared_ptr<HeldTree> GetHeldTree() = 0;
  virtual ~InstallationContext() = default;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_INSTALLATION_CONTEXT_H_
