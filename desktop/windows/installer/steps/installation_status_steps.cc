#include "desktop/windows/installer/steps/installation_status_steps.h"

#include <shlobj.h>

#include <memory>
#include <string>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/time/time.h"
#include "desktop/windows/installer/service/install_folder_files.h"
#include "desktop/windows/installer/steps/file_step.h"
#include "desktop/windows/installer/steps/finalize_installation_steps.h"
#include "desktop/windows/installer/steps/installation_context.h"
#include "desktop/windows/installer/steps/installer_system.h"
#include "desktop/windows/installer/service/held_delete_operation.h"
#include "desktop/windows/installer/service/held_transfer_operations.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/install_log_reader.h"
#include "desktop/windows/installer/service/install_log_writer.h"
#include "desktop/windows/installer/service/path_names.h"
#include "desktop/windows/installer/service/transactions/transaction.h"
#include "desktop/windows/installer/settings/settings.h"

namespace installer {

namespace {

const wchar_t kLegacyStatusFileName[] = L"velum_install_log.xml";
// The Start Menu entries of the maker's message-center companion product.
const wchar_t kCompanionShortcutPattern[] = L"Velum Message Center*.lnk";

// Written beside the record and put in place through the transaction: a failed
// installation must leave the earlier record, or none.
base::Result<> SaveInstallationStatus(const InstallLog& record, InstallationContext* context,
                                      const base::FilePath& path) {
  const base::FilePath staging = path.AddExtension(kStagingExtension);
  InstallLogWriter writer;
  if (!writer.WriteFile(record, staging)) {
    base::DeleteFileBestEffort(staging, false);
    return base::Failure{0, 0, "could not write " + staging.AsUTF8(), staging};
  }
  return InstallStagedFile(context, staging, path);
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
      SaveInstallationStatus(*context_->GetInstallLog(), context_,
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
  const std::shared_ptr<HeldTree> tree = context_->GetHeldTree();
  base::FilePath folder = install_folder.Append(kOldStatusFolderName);
  if (!base::DirectoryExists(folder)) VLOG(1) << "Creating folder for old status files.";
  // Made or held through the install folder: a link in its place is refused. The
  // installation goes on without the earlier record, but the log says so.
  if (!transaction->Execute(std::make_unique<HeldFolderOperation>(tree, folder))) {
    LOG(WARNING) << "Could not create " << folder.AsUTF8() << "; the previous status is not kept";
    return StepResult();
  }
  base::FilePath target =
      GetNewOldStatusPath(install_folder, base::Time::NowFromSystemTime().ToTimeT());
  VLOG(1) << "Moving old status file.";
  if (!transaction->Execute(std::make_unique<HeldMoveOperation>(tree, source, target)))
    LOG(WARNING) << "Failed moving " << source.AsUTF8();
  return StepResult();
}

namespace {

// Whether `name` in "old_status" is a record's, as "*.xml.*" matches it.
bool IsOldStatusName(const std::wstring& name) {
  const std::wstring pattern = L".xml.";
  for (size_t at = 0; at + pattern.size() <= name.size(); ++at) {
    if (base::FilePath::CompareIgnoreCase(name.substr(at, pattern.size()), pattern) == 0)
      return true;
  }
  return false;
}

// Each version's executable has rules of its own; only an administrator may change them.
void RemoveOldFirewallRules(const InstallerSystem& system, const base::FilePath& install_folder,
                            const InstallLog& record) {
  if (!system.is_user_admin()) return;
  CreateFirewallRules(system, GetProductExecutablePath(install_folder, record.subfolder), true);
}

}  // namespace

StepResult RemoveInstalledFilesStep::Run(int32_t /*attempt*/) {
  LOG(INFO) << "Removing installed files.";
  const base::FilePath folder = context_->GetInstallFolder().Append(kOldStatusFolderName);
  std::shared_ptr<HeldTree> tree = context_->GetHeldTree();
  const HeldFile* held_folder = nullptr;
  const base::Result<> held =
      tree ? tree->HoldFolder(folder, &held_folder)
           : base::Failure{0, 0, "the install folder cannot be held", folder};
  if (IsMissingPlace(held)) {
    VLOG(1) << "No old status files found.";
    return StepResult();
  }
  std::vector<HeldFile::Listed> entries;
  if (!held.ok() || !held_folder->ListFolder(&entries)) {
    // Read through a link, its records could name another program's files.
    LOG(WARNING) << "Keeping the old status files in " << folder.AsUTF8() << ": "
                 << (held.ok() ? "they cannot be listed" : held.failure().text);
  }
  for (const HeldFile::Listed& entry : entries) {
    if (IsOldStatusName(entry.name)) RemoveOldVersion(tree, folder.Append(entry.name));
  }
  // Only when empty: kept records stay for the next attempt.
  if (held.ok()) tree->RemoveEmptied(folder);

  base::FilePath programs;
  if (GetKnownFolderPath(FOLDERID_Programs, CSIDL_PROGRAMS, &programs, false) &&
      !base::DeleteFileRecursive(programs, kCompanionShortcutPattern, false)) {
    LOG(WARNING) << "Failed deleting the companion shortcuts in " << programs.AsUTF8();
  }
  return StepResult();
}

void RemoveInstalledFilesStep::RemoveOldVersion(const std::shared_ptr<HeldTree>& tree,
                                                const base::FilePath& path) {
  std::unique_ptr<InstallLog> record;
  {
    // Held while it is read: its name cannot be given to another file meanwhile.
    const HeldFile* folder = nullptr;
    HeldFile file;
    const base::Result<> held = tree->HoldFile(path, FILE_READ_ATTRIBUTES,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE, &folder, &file);
    // A link in the folder is nobody's record, whatever it leads to.
    if ((!held.ok() && held.failure().kind == kHeldLink) ||
        (held.ok() && file.is_reparse_point())) {
      LOG(WARNING) << "Keeping " << path.AsUTF8() << ", reached through a link";
      return;
    }
    InstallLogReader reader;
    if (held.ok()) reader.ParseFile(&record, path, SOURCE_OLD_STATUS);
  }
  // A record that named paths outside the install folder is not trusted with the rest.
  if (!record || record->damaged) {
    VLOG(1) << "Found invalid old status file: " << path.AsUTF8();
    return;
  }
  VLOG(1) << "Found old status file: " << path.AsUTF8();
  const bool uninstall = context_->GetSettings()->operation() == Settings::OPERATION_UNINSTALL;
  const base::FilePath& install_folder = context_->GetInstallFolder();
  bool kept = false;
  {
    // Its own transaction: an old version is removed whole or, during an upgrade, kept
    // whole for a later attempt, whatever becomes of this installation. Committed
    // before the record goes: a run cut short in between leaves the record naming
    // files that are gone, never files no record names.
    Transaction transaction;
    const base::FilePath version_folder = install_folder.Append(record->subfolder);
    for (const std::wstring& file : record->files) {
      bool refused = false;
      if (transaction.Execute(std::make_unique<HeldDeleteOperation>(
              tree, version_folder.Append(file), true, true, &refused)))
        continue;
      if (!uninstall) {
        transaction.Rollback();
        kept = true;
        break;
      }
      // The record goes all the same: no later run would find the file again. One left
      // for a link is not the batch's either: its del would follow the link.
      if (!refused) context_->GetFilesLeftToCleanupBatch()->push_back(version_folder.Append(file));
    }
  }
  RemoveOldFirewallRules(context_->GetSystem(), install_folder, *record);
  if (kept) return;
  VLOG(1) << "Deleting " << path.AsUTF8();
  const HeldFile* folder = nullptr;
  HeldFile file;
  const base::Result<> held = tree->HoldFile(path, DELETE | FILE_READ_ATTRIBUTES,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, &folder, &file);
  if (!held.ok() || !file.DeleteOnClose()) LOG(WARNING) << "Failed deleting " << path.AsUTF8();
}

RemoveOldRootFilesStep::RemoveOldRootFilesStep(InstallationContext* context,
                                               const InstallLog* existing)
    : ContextStep(context), existing_(existing) {}

StepResult RemoveOldRootFilesStep::Run(int32_t /*attempt*/) {
  LOG(INFO) << "Removing old files from installation root";
  if (!existing_) return StepResult();
  // The record names files: a folder of that name is somebody else's, and stays.
  for (const std::wstring& file : existing_->root_files) {
    if (!context_->GetTransaction()->Execute(std::make_unique<HeldDeleteOperation>(
            context_->GetHeldTree(), context_->GetInstallFolder().Append(file), false, true)))
      VLOG(1) << "Could not remove " << file.c_str();
  }
  return StepResult();
}

}  // namespace installer
