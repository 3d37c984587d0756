#include "desktop/windows/installer/steps/installation_status_steps.h"

#include <shlobj.h>

#include <memory>
#include <string>

#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/time/time.h"
#include "desktop/windows/installer/service/install_folder_files.h"
#include "desktop/windows/installer/steps/file_step.h"
#include "desktop/windows/installer/steps/finalize_installation_steps.h"
#include "desktop/windows/installer/steps/installation_context.h"
#include "desktop/windows/installer/steps/installer_system.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/install_log_reader.h"
#include "desktop/windows/installer/service/install_log_writer.h"
#include "desktop/windows/installer/service/path_names.h"
#include "desktop/windows/installer/service/transactions/create_folder_operation.h"
#include "desktop/windows/installer/service/transactions/delete_file_operation.h"
#include "desktop/windows/installer/service/transactions/move_file_operation.h"
#include "desktop/windows/installer/service/transactions/transaction.h"
#include "desktop/windows/installer/settings/settings.h"

namespace installer {

namespace {

const wchar_t kLegacyStatusFileName[] = L"velum_install_log.xml";
const wchar_t kOldStatusFolderName[] = L"old_status";
// The Start Menu entries of the maker's message-center companion product.
const wchar_t kCompanionShortcutPattern[] = L"Velum Message Center*.lnk";

// Written beside the record and put in place through the transaction: a failed
// installation must leave the earlier record, or none.
base::Result<> SaveInstallationStatus(const InstallLog& record, Transaction* transaction,
                                      const base::FilePath& path) {
  const base::FilePath staging = path.AddExtension(kStagingExtension);
  InstallLogWriter writer;
  if (!writer.WriteFile(record, staging)) {
    base::DeleteFileBestEffort(staging, false);
    return base::Failure{0, 0, "could not write " + staging.AsUTF8(), staging};
  }
  return InstallStagedFile(transaction, staging, path);
}

}  // namespace

base::FilePath GetNewOldStatusPath(const base::FilePath& install_folder, int64_t seconds) {
  base::FilePath folder = install_folder.Append(kOldStatusFolderName);
  for (;; ++seconds) {
    base::FilePath path =
        folder.Append(std::wstring(kStatusFileName) + L"." + std::to_wstring(seconds));
    if (!base::PathExists(path)) return path;
  }
}

StepResult WriteInstallationStatusStep::Run(int32_t /*attempt*/) {
  VLOG(1) << "Writing the installation status";
  const base::Result<> saved =
      SaveInstallationStatus(*context_->GetInstallLog(), context_->GetTransaction(),
                             context_->GetInstallFolder().Append(kStatusFileName));
  if (!saved.ok()) {
    return FailedStep(StepResult::STATUS_FAIL, INSTALLER_ERROR_GENERAL, std::wstring(),
                      "Failed saving the installation status", saved.failure());
  }
  return StepResult();
}

StepResult PreserveInstallerStatusStep::Run(int32_t /*attempt*/) {
  LOG(INFO) << "Preserving previous installer status.";
  const base::FilePath& install_folder = context_->GetInstallFolder();
  base::FilePath source = install_folder.Append(kStatusFileName);
  if (!base::PathExists(source)) source = install_folder.Append(kLegacyStatusFileName);
  if (!base::PathExists(source)) {
    LOG(WARNING) << "No previous status file found.";
    return StepResult();
  }
  Transaction* transaction = context_->GetTransaction();
  base::FilePath folder = install_folder.Append(kOldStatusFolderName);
  if (!base::DirectoryExists(folder)) {
    VLOG(1) << "Creating folder for old status files.";
    // The installation goes on without the earlier record, but the log says so.
    if (!transaction->Execute(std::make_unique<CreateFolderOperation>(folder))) {
      LOG(WARNING) << "Could not create " << folder.AsUTF8()
                   << "; the previous status is not kept";
      return StepResult();
    }
  }
  base::FilePath target =
      GetNewOldStatusPath(install_folder, base::Time::NowFromSystemTime().ToTimeT());
  VLOG(1) << "Moving old status file.";
  if (!transaction->Execute(std::make_unique<MoveFileOperation>(source, target)))
    LOG(WARNING) << "Failed moving " << source.AsUTF8();
  return StepResult();
}

namespace {

// Each version's executable has rules of its own; only an administrator may change them.
void RemoveOldFirewallRules(const InstallerSystem& system, const base::FilePath& install_folder,
                            const InstallLog& record) {
  if (!system.is_user_admin()) return;
  CreateFirewallRules(system, GetProductExecutablePath(install_folder, record.subfolder), true);
}

}  // namespace

StepResult RemoveInstalledFilesStep::Run(int32_t /*attempt*/) {
  LOG(INFO) << "Removing installed files.";
  const base::FilePath& install_folder = context_->GetInstallFolder();
  base::FilePath folder = install_folder.Append(kOldStatusFolderName);
  if (!base::DirectoryExists(folder)) {
    VLOG(1) << "No old status files found.";
    return StepResult();
  }
  bool uninstall = context_->GetSettings()->operation() == Settings::OPERATION_UNINSTALL;
  base::FileEnumerator records(folder, false, base::FileEnumerator::FILES, L"*.xml.*");
  for (base::FilePath path = records.Next(); !path.empty(); path = records.Next()) {
    std::unique_ptr<InstallLog> record;
    InstallLogReader reader;
    reader.ParseFile(&record, path, SOURCE_OLD_STATUS);
    // A record that named paths outside the install folder is not trusted with the rest.
    if (!record || record->damaged) {
      VLOG(1) << "Found invalid old status file: " << path.AsUTF8();
      continue;
    }
    VLOG(1) << "Found old status file: " << path.AsUTF8();
    bool kept = false;
    {
      // Its own transaction: an old version is removed whole or, during an upgrade, kept
      // whole for a later attempt, whatever becomes of this installation. Committed
      // before the record goes: a run cut short in between leaves the record naming
      // files that are gone, never files no record names.
      Transaction transaction;
      base::FilePath version_folder = install_folder.Append(record->subfolder);
      for (const std::wstring& file : record->files) {
        if (transaction.Execute(std::make_unique<DeleteFileOperation>(
                version_folder.Append(file), true, true)))
          continue;
        if (!uninstall) {
          transaction.Rollback();
          kept = true;
          break;
        }
        // The record goes all the same: no later run would find the file again.
        context_->GetFilesLeftToCleanupBatch()->push_back(version_folder.Append(file));
      }
    }
    RemoveOldFirewallRules(context_->GetSystem(), install_folder, *record);
    if (!kept) {
      VLOG(1) << "Deleting " << path.AsUTF8();
      if (!base::DeleteFile(path, false)) LOG(WARNING) << "Failed deleting " << path.AsUTF8();
    }
  }
  // Only when empty: kept records stay for the next attempt.
  RemoveDirectoryW(folder.value().c_str());

  base::FilePath programs;
  if (GetKnownFolderPath(FOLDERID_Programs, CSIDL_PROGRAMS, &programs, false) &&
      !base::DeleteFileRecursive(programs, kCompanionShortcutPattern, false)) {
    LOG(WARNING) << "Failed deleting the companion shortcuts in " << programs.AsUTF8();
  }
  return StepResult();
}

RemoveOldRootFilesStep::RemoveOldRootFilesStep(InstallationContext* context,
                                               const InstallLog* existing)
    : ContextStep(context), existing_(existing) {}

StepResult RemoveOldRootFilesStep::Run(int32_t /*attempt*/) {
  LOG(INFO) << "Removing old files from installation root";
  if (!existing_) return StepResult();
  for (const std::wstring& file : existing_->root_files) {
    const base::FilePath path = context_->GetInstallFolder().Append(file);
    // The record names files: a folder of that name is somebody else's.
    if (base::DirectoryExists(path)) {
      LOG(WARNING) << "Not removing the folder " << path.AsUTF8() << " named as a root file";
      continue;
    }
    if (!context_->GetTransaction()->Execute(
            std::make_unique<DeleteFileOperation>(path, false, true)))
      VLOG(1) << "Could not remove " << file.c_str();
  }
  return StepResult();
}

}  // namespace installer
