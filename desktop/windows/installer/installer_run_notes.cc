#include "desktop/windows/installer/installer.h"

#include "base/base_paths.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "desktop/windows/installer/run_note_builder.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/settings/status.h"

namespace installer {

bool Installer::NoteRun(RunNote::Operation operation) {
  const base::FilePath& install_folder = GetInstallFolder();
  // Held before its notes are read: what they name is then found in the folder they
  // were read from, whatever is put at its name meanwhile.
  const base::Result<> held = held_install_folder_.Hold(install_folder);
  if (!held.ok()) {
    LOG(ERROR) << base::DescribeFailure(held.failure());
    Fail(INSTALLER_ERROR_GENERAL, "Could not note what an earlier run left undone");
    return false;
  }
  // Finished before the subfolder is chosen: a killed run's version folder is gone then.
  const bool uninstall = operation == RunNote::Operation::kUninstall;
  files_left_to_cleanup_batch_.clear();
  earlier_notes_left_to_batch_.clear();
  // Only the shortcut places of this run's mode: an all-users one only for an all-users run.
  const bool all_users = settings_->flag(Settings::ALL_USERS_FLAG);
  const base::Result<UnfinishedRuns> unfinished = FinishInterruptedRuns(
      install_folder,
      [all_users](const base::FilePath& path) { return IsProductShortcut(path, all_users); });
  if (!unfinished.ok()) {
    LOG(ERROR) << base::DescribeFailure(unfinished.failure());
    Fail(INSTALLER_ERROR_GENERAL, "Could not note what an earlier run left undone");
    return false;
  }
  if (!uninstall) install_log_.subfolder = ChooseSubfolder();
  RunNoteSources sources;
  sources.operation = operation;
  sources.start = run_start_;
  sources.install_folder = install_folder;
  if (!uninstall) {
    sources.subfolder = install_log_.subfolder;
    sources.files = &files_;
    sources.root_files = &root_files_;
  }
  sources.existing = GetExistingInstallLog();
  sources.all_users = all_users;
  sources.version = product_version_;
  run_note_ = BuildRunNote(sources);
  if (!CheckUnfinishedRuns(unfinished.value(), uninstall)) return false;
  const base::Result<base::FilePath> written = WriteRunNote(install_folder, run_note_);
  if (!written.ok()) {
    LOG(ERROR) << base::DescribeFailure(written.failure());
    // Nothing can be made in the folder: told as the version folder's failure would be.
    if (uninstall)
      Fail(INSTALLER_ERROR_GENERAL, "Could not note the run in the installation folder");
    else
      Fail(INSTALLER_ERROR_CREATE_FOLDER, "Creating installation subfolder failed",
           install_log_.subfolder);
    return false;
  }
  run_note_path_ = written.value();
  return true;
}

bool Installer::CheckUnfinishedRuns(const UnfinishedRuns& unfinished, bool uninstall) {
  // An uninstallation leaves nothing behind: whatever is left stands in its way, but for
  // this very program where a cut run put it, which the clean-up batch deletes once it
  // has ended, then the notes naming it.
  base::FilePath own;
  if (uninstall && !base::PathRegistry::Get(base::FILE_EXE, &own)) own.clear();
  const RunNote::Step* in_the_way = FindStepInTheWay(unfinished.left, run_note_, uninstall, own);
  if (!in_the_way) {
    if (uninstall && !unfinished.left.empty()) {
      files_left_to_cleanup_batch_.push_back(own);
      files_left_to_cleanup_batch_.insert(files_left_to_cleanup_batch_.end(),
                                          unfinished.notes.begin(), unfinished.notes.end());
      earlier_notes_left_to_batch_ = unfinished.notes;
    }
    return true;
  }
  const std::string what = uninstall ? "uninstall" : "install";
  const std::string path = in_the_way->path.AsUTF8();
  if (unfinished.IsHeld(*in_the_way)) {
    Fail(INSTALLER_ERROR_BROWSER_IN_USE, "Can't " + what + " when " + path + " is in use");
  } else {
    Fail(INSTALLER_ERROR_GENERAL,
         "Can't " + what + " before an earlier run's " + path + " is put right");
  }
  return false;
}

bool Installer::CommitRun() {
  if (!run_note_path_.empty()) {
    run_note_.committing = true;
    // Unmarked, a commit cut short would be undone half committed: undone now instead,
    // but for an uninstallation, whose clean-up batch would delete what a rollback kept.
    if (!RewriteRunNote(run_note_path_, run_note_)) {
      if (settings_->operation() != Settings::OPERATION_UNINSTALL) {
        Fail(INSTALLER_ERROR_GENERAL, "Could not mark the run's note as committing");
        return false;
      }
      LOG(WARNING) << "Could not mark the run's note as committing";
    }
  }
  transaction_.Commit();
  if (!run_note_path_.empty() && !run_note_left_to_batch_) {
    if (run_note_kept_for_.empty())
      RemoveRunNote(run_note_path_);
    else
      KeepNoteForLaterRun(run_note_path_, run_note_, run_note_kept_for_);
    run_note_path_.clear();
  }
  // Let go only now: an uninstallation that emptied it removes it then.
  held_install_folder_.ReleaseAndRemoveIfEmpty();
  return true;
}

void Installer::RemoveNoteAfterRollback() {
  run_note_left_to_batch_ = false;
  run_note_kept_for_.clear();
  if (!run_note_path_.empty()) RemoveRunNote(run_note_path_);
  run_note_path_.clear();
  held_install_folder_.Release();
  if (install_folder_existed_ || !settings_) return;
  // The rollback kept the folders it made while the note was in them, or while held.
  const base::FilePath& existing = settings_->status().existing_folder();
  for (base::FilePath folder = GetInstallFolder();
       folder.value().size() > existing.StripTrailingSeparators().value().size() &&
       RemoveDirectoryW(folder.value().c_str());
       folder = folder.DirName()) {
  }
}

}  // namespace installer
