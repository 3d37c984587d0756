#include "desktop/windows/installer/installer.h"

#include <string>
#include <vector>

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/process/process_util.h"
#include "base/strings/string_number_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/common/names/switches.h"
#include "desktop/windows/installer/service/install_folder_files.h"
#include "desktop/windows/installer/run_note_builder.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/settings/status.h"

namespace installer {

namespace {

// Whether the process `pid` runs from the very file `file` (not one put at its name since).
bool RunsFrom(uint32_t pid, const base::FilePath& file) {
  base::ScopedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  std::vector<wchar_t> image(32768);
  DWORD size = static_cast<DWORD>(image.size());
  if (!process.IsValid() || !QueryFullProcessImageNameW(process.Get(), 0, image.data(), &size))
    return false;
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HeldFile running;
  HeldFile named;
  return running.Open(base::FilePath(std::wstring(image.data(), size)), FILE_READ_ATTRIBUTES,
                      share, true) &&
         named.Open(file, FILE_READ_ATTRIBUTES, share, false) && !named.is_reparse_point() &&
         running.identity() == named.identity();
}

// The files the processes of this uninstallation run from: this program, and the install
// folder's launcher when the process that started the front end (the uninstall entry's
// command, which waits for it) runs from that very file.
std::vector<base::FilePath> OwnProgramFiles(const base::FilePath& install_folder) {
  std::vector<base::FilePath> files;
  base::FilePath own;
  if (base::PathRegistry::Get(base::FILE_EXE, &own)) files.push_back(own);
  uint64_t initial_pid = 0;
  const std::string initial =
      base::CommandLine::ForCurrentProcess()->GetSwitchValueASCII(switches::kInitialPid);
  if (!base::StringToUint64(initial, &initial_pid) || initial_pid == 0) return files;
  const uint32_t starter = base::GetParentProcessId(static_cast<uint32_t>(initial_pid));
  const base::FilePath launcher = install_folder.Append(kLauncherFileName);
  if (starter != 0 && RunsFrom(starter, launcher)) files.push_back(launcher);
  return files;
}

}  // namespace

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
  own_files_left_to_batch_.clear();
  // Only the shortcut places of this run's mode: an all-users one only for an all-users run.
  const bool all_users = settings_->flag(Settings::ALL_USERS_FLAG);
  const base::Result<UnfinishedRuns> unfinished = FinishInterruptedRuns(
      held_install_folder_,
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
  const base::Result<> written = WriteRunNote(held_install_folder_, run_note_, &run_note_file_);
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
  return true;
}

bool Installer::CheckUnfinishedRuns(const UnfinishedRuns& unfinished, bool uninstall) {
  // An uninstallation leaves nothing behind: whatever is left stands in its way, but for
  // the files its own processes run from where a cut run left them, which the clean-up
  // batch deletes once they have ended, then the notes naming them.
  const std::vector<base::FilePath> own =
      uninstall ? OwnProgramFiles(GetInstallFolder()) : std::vector<base::FilePath>();
  const RunNote::Step* in_the_way = FindStepInTheWay(unfinished.left, run_note_, uninstall, own);
  if (!in_the_way) {
    if (uninstall && !unfinished.left.empty()) {
      for (const RunNote::Step& step : unfinished.left) {
        for (const base::FilePath& path : {step.path, step.copy}) {
          if (!path.empty() && !IsOneOf(own_files_left_to_batch_, path))
            own_files_left_to_batch_.push_back(path);
        }
      }
      files_left_to_cleanup_batch_ = own_files_left_to_batch_;
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
  if (run_note_file_.written()) {
    run_note_.committing = true;
    // Unmarked, a commit cut short would be undone half committed: undone now instead,
    // but for an uninstallation, whose clean-up batch would delete what a rollback kept.
    if (!RewriteRunNote(&run_note_file_, run_note_)) {
      if (settings_->operation() != Settings::OPERATION_UNINSTALL) {
        Fail(INSTALLER_ERROR_GENERAL, "Could not mark the run's note as committing");
        return false;
      }
      LOG(WARNING) << "Could not mark the run's note as committing";
    }
  }
  transaction_.Commit();
  if (run_note_file_.written() && !run_note_left_to_batch_) {
    if (run_note_kept_for_.empty()) {
      run_note_file_.Remove();
    } else {
      KeepNoteForLaterRun(&run_note_file_, run_note_, run_note_kept_for_);
      run_note_file_.Release();
    }
  }
  // Let go only now: an uninstallation that emptied it removes it then.
  held_install_folder_.ReleaseAndRemoveIfEmpty();
  return true;
}

void Installer::RemoveNoteAfterRollback() {
  run_note_left_to_batch_ = false;
  run_note_kept_for_.clear();
  run_note_file_.Remove();
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
