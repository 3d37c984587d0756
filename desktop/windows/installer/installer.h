// Installer: carries out one requested operation (install, upgrade, uninstall, register
// as protocol handler) in the backend process. It checks the request, prepares the
// install folder, builds the operation's step list and runs it one step per task on the
// current thread's message loop, inside one transaction: a failure or a cancellation
// undoes every change. Progress and the end are reported to its InstallerObservers.
//
//   Installer installer;
//   installer.AddObserver(&observer);     // quits the run loop on success or done
//   installer.BeginInstallation(&settings);
//   run_loop.Run();
//   bool ok = installer.succeeded();
#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_H_

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/files/file_path.h"
#include "base/memory/ref_counted.h"
#include "base/memory/weak_ptr.h"
#include "base/observer_list.h"
#include "base/time/time.h"
#include "base/win/object_watcher.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/steps/installation_context.h"
#include "desktop/windows/installer/installer_elevation.h"
#include "desktop/windows/installer/installer_observer.h"
#include "desktop/windows/installer/service/interrupted_runs/note_left_to_batch.h"
#include "desktop/windows/installer/steps/installer_step.h"
#include "desktop/windows/installer/steps/installer_step_list.h"
#include "desktop/windows/installer/steps/os_operations.h"
#include "desktop/windows/installer/service/held_install_folder.h"
#include "desktop/windows/installer/service/held_tree.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/interrupted_runs/run_note.h"
#include "desktop/windows/installer/service/interrupted_runs/run_note_file.h"
#include "desktop/windows/installer/service/placeholder_resolver.h"
#include "desktop/windows/installer/service/transactions/transaction.h"
#include "desktop/windows/installer/task_service_connection.h"

namespace base {
class TaskRunner;
}

namespace installer {

class SavedSecurity;

class Installer : public base::ObjectWatcher::Delegate,
                  public InstallationContext,
                  public PlaceholderResolver {
 public:
  // Runs one step of the list: the step itself, or a test's stand-in around it.
  class StepRunner {
   public:
    [[nodiscard]] virtual StepResult Run(InstallerStep* step, size_t index, int32_t attempt) = 0;

   protected:
    ~StepRunner() = default;
  };
  // Runs the steps themselves.
  static StepRunner* DirectStepRunner();

  // Bound to the current thread's message loop; `step_runner` and `system` (null: the
  // running system's services) outlive the installer.
  explicit Installer(StepRunner* step_runner = DirectStepRunner(),
                     const InstallerSystem* system = nullptr);
  // Cancels a run still in progress; what a successful run did stays.
  ~Installer() override;
  Installer(const Installer&) = delete;
  Installer& operator=(const Installer&) = delete;

  void AddObserver(InstallerObserver* observer) { observers_.AddObserver(observer); }
  void RemoveObserver(InstallerObserver* observer) { observers_.RemoveObserver(observer); }

  // Freezes `settings` (borrowed until the run ends) and posts the run. The settings'
  // Status must have arrived (no fetch in flight).
  void BeginInstallation(Settings* settings);
  // Undoes every change of the run, ends it and notifies OnInstallationDone(false).
  // Does nothing unless a run is in progress, so a second call or a call after success
  // changes nothing.
  void Cancel();

  bool running() const { return running_; }
  bool succeeded() const { return succeeded_; }

  // The pause before a step's retry; one second unless a test shortens it.
  void SetRetryDelayForTesting(base::TimeDelta delay) { retry_delay_ = delay; }
  // The run's note, held from its first write (its text can be read only through it).
  const RunNoteFile& GetRunNoteFileForTesting() const { return run_note_file_; }
  // The version this run installs instead of the product's own.
  void SetProductVersionForTesting(const std::string& version) { product_version_ = version; }
  // Replaces the default-browser set-up (the backend's, or a test's).
  void SetOsOperations(std::unique_ptr<OsOperations> operations) {
    os_operations_ = std::move(operations);
  }
  // What takes an elevated hand-over's package out of a full-package installer (it must
  // outlive the installer); without one nothing runs elevated from a package.
  void SetPackageUnpacker(PackageUnpacker* unpacker) { package_unpacker_ = unpacker; }

  // InstallationContext:
  Settings* GetSettings() override { return settings_; }
  Transaction* GetTransaction() override { return &transaction_; }
  OsOperations* GetOsOperations() override { return os_operations_.get(); }
  const base::FilePath& GetPackageFolder() override { return package_folder_; }
  const base::FilePath& GetInstallFolder() override;
  const base::FilePath& GetTargetFolder() override;
  InstallLog* GetInstallLog() override { return &install_log_; }
  uint32_t GetSecondInstallerPid() override { return second_installer_pid_; }
  PlaceholderResolver* GetPlaceholderResolver() override { return this; }
  bool HasPermissionHelper() override { return permission_undo_event_.IsValid(); }
  void StartRegistryLogging() override { registry_logging_ = true; }
  void StopRegistryLogging() override { registry_logging_ = false; }
  void ReportImportantEvent(const std::string& name) override;
  bool HasExistingInstallation() override;
  bool IsBasaltInstallation() override;
  bool IsVersionFolderMadeByThisRun() override { return version_folder_made_; }
  std::string GetServerTrackingData() override;
  base::FilePath LeaveRunNoteToBatch(const std::vector<base::FilePath>& left,
                                     const std::vector<base::FilePath>& waited_programs) override {
    if (!run_note_file_.written()) return base::FilePath();
    // What the run's own processes run from, with the copies a cut run set aside of them,
    // is freed with the processes the batch waits for.
    std::vector<base::FilePath> freed = waited_programs;
    freed.insert(freed.end(), own_files_left_to_batch_.begin(), own_files_left_to_batch_.end());
    run_note_kept_for_ = FindFilesOutlivingBatch(left, freed, earlier_notes_left_to_batch_);
    run_note_left_to_batch_ = run_note_kept_for_.empty();
    return run_note_left_to_batch_ ? run_note_file_.path() : base::FilePath();
  }
  std::vector<base::FilePath>* GetFilesLeftToCleanupBatch() override {
    return &files_left_to_cleanup_batch_;
  }
  const HeldInstallFolder* GetHeldInstallFolder() override {
    return held_install_folder_.is_held() ? &held_install_folder_ : nullptr;
  }
  void WaitForTaskService() override { task_service_.Wait(); }
  const InstallerSystem& GetSystem() override { return system_; }
  std::shared_ptr<HeldTree> GetHeldTree() override {
    return held_trees_.Get(GetHeldInstallFolder());
  }

  // PlaceholderResolver:
  std::wstring Resolve(const std::wstring& name) override;
  std::vector<InstallLog::RegistryKey>* GetRegistryLog(HKEY root) override;

  // base::ObjectWatcher::Delegate:
  void OnObjectSignaled(HANDLE object) override;

 protected:
  // Hand-overs to other installer processes: an elevated copy of this one, the folder
  // permission helper, the package's own installer.
  [[nodiscard]] virtual HandOverResult RunElevated();
  [[nodiscard]] virtual HandOverResult ObtainFolderPermission(bool permanent);
  virtual void WaitForPackage(bool post_elevation_tasks);
  // The work that must run as the user after an elevated installation.
  virtual void RunPostElevationTasks();
  // After the steps of a successful install or upgrade.
  virtual void FinalizeSuccessfulInstallation();

 private:
  // What the hand-overs to other installer processes tell this installation.
  class HandOver;
  HandOver* GetHandOver();

  // How a check of the request ends the run or lets it go on.
  enum class RequestCheck {
    kContinue,
    // Another process (an elevated copy, or the post-elevation work) carried the run
    // through and reported its outcome.
    kHandedOver,
    // The error is reported and the run cancelled.
    kFailed,
  };

  void Run();
  // The checks of Run up to the creation of the install folder.
  [[nodiscard]] RequestCheck CheckRequest();
  // The operation is one this run can carry out, and the package folder is known.
  [[nodiscard]] bool CheckOperation();
  [[nodiscard]] bool WatchInterruptedEvent();
  // The "parent-pid" switch: the installer process that started this one.
  void ReadSecondInstallerPid();
  // Where the status examined another folder than the install folder, its write access
  // stands (*write), and a writable folder is created at once.
  [[nodiscard]] bool CreateFolderTheStatusFoundWritable(bool admin, bool* write);
  // Gets write access to the install folder: by a grant this user may make, through an
  // elevated copy of the installer, or from the elevated folder-permission helper.
  [[nodiscard]] RequestCheck EnsureWriteAccess(bool admin, bool write);
  [[nodiscard]] RequestCheck HandOverToElevatedRun();
  [[nodiscard]] bool ObtainWriteAccessFromHelper();
  void SaveLastInstallPath();
  // Reads "files_list" and "root_files_list" and creates the version subfolder.
  [[nodiscard]] bool PrepareFiles();
  // The version folder this run installs into: the first free one of the version's names.
  std::wstring ChooseSubfolder();
  // False (with the error reported) when a name the run gives a file in the install
  // folder (the package's deepest path, the record's), set aside, would not fit MAX_PATH.
  [[nodiscard]] bool PackageFitsInstallFolder();
  // Holds the install folder for the rest of the run, finishes the runs in it that were
  // cut short, then notes durably what this run will make, replace and remove there;
  // false (reported) when the folder cannot be held or the note cannot be written.
  [[nodiscard]] bool NoteRun(RunNote::Operation operation);
  // Fails the run when what earlier runs left undone stands in its way.
  [[nodiscard]] bool CheckUnfinishedRuns(const UnfinishedRuns& unfinished, bool uninstall);
  // The uninstallation's start: the browser must not be running.
  [[nodiscard]] bool SetExecutableAside();
  // Commits the transaction, the run's note marked as committing until it is done.
  // False (reported, the run undone) when the note cannot be marked.
  [[nodiscard]] bool CommitRun();
  // Removes the note of a run that was undone, and the install folder it made.
  void RemoveNoteAfterRollback();
  void ReadInstallerExperiments();
  void BuildStepList();
  void ScheduleNextStep();
  // Runs the step at `index` of the list.
  void Step(size_t index, int32_t attempt);
  // Notifies OnError, cancels, and returns `message` for the caller's log line.
  std::string ReportError(uint32_t code, const std::wstring& argument,
                          const std::string& message);
  // ReportError with the ERROR log line.
  void Fail(uint32_t code, const std::string& message,
            const std::wstring& argument = std::wstring());
  void HandleElevatedRunResult(HandOverResult result);
  void OnInstallationSucceeded();
  void Finish();
  // The record of the installation in the install folder, or null.
  const InstallLog* GetExistingInstallLog();

  base::scoped_refptr<base::TaskRunner> task_runner_;
  StepRunner* step_runner_;
  std::unique_ptr<SavedSecurity> saved_folder_security_;
  Transaction transaction_;
  // The folders the record's deletions act through, held while a deletion holds them.
  HeldTreeSource held_trees_;
  base::ObserverList<InstallerObserver> observers_;
  base::FilePath package_folder_;
  std::vector<std::string> files_;
  std::vector<std::string> root_files_;
  Settings* settings_ = nullptr;
  InstallLog install_log_;
  std::wstring uninstall_key_;
  bool running_ = false;
  bool succeeded_ = false;
  bool registry_logging_ = false;
  // Made by the first hand-over; reports the package installer's outcome once.
  std::unique_ptr<HandOver> hand_over_;
  base::ScopedHandle permission_undo_event_;
  uint32_t second_installer_pid_ = 0;
  base::ScopedHandle interrupted_event_;
  base::ObjectWatcher interrupted_watcher_;
  std::vector<std::unique_ptr<InstallerStep>> steps_;
  size_t next_step_ = 0;
  std::string product_version_;
  base::TimeDelta retry_delay_;
  // When Run began, in seconds since 1970: set-aside copies from then on are this run's.
  int64_t run_start_ = 0;
  // Files an uninstallation leaves to its clean-up batch: this program where an
  // interrupted run put it (with that run's note), an earlier version's that could not be
  // set aside.
  std::vector<base::FilePath> files_left_to_cleanup_batch_;
  // Whether the install folder was there when the run began.
  bool install_folder_existed_ = true;
  // Whether PrepareFiles made the version folder, missing until then.
  bool version_folder_made_ = false;
  // From before the notes are read until the transaction is committed or rolled back.
  HeldInstallFolder held_install_folder_;
  RunNote run_note_;
  // Held from its first write until it is removed, or past the commit until this process
  // ends when the clean-up batch removes it.
  RunNoteFile run_note_file_;
  // The clean-up batch removes the note once it has deleted what was in use.
  bool run_note_left_to_batch_ = false;
  // What the run's note names alone from its commit on, when the batch may not delete it.
  std::vector<base::FilePath> run_note_kept_for_;
  // Earlier runs' notes the clean-up batch removes after this program.
  std::vector<base::FilePath> earlier_notes_left_to_batch_;
  // What earlier runs left of the files this uninstallation's processes run from.
  std::vector<base::FilePath> own_files_left_to_batch_;
  std::unique_ptr<OsOperations> os_operations_ = std::make_unique<OsOperationsImpl>();
  const InstallerSystem& system_;
  PackageUnpacker* package_unpacker_ = nullptr;
  TaskServiceConnection task_service_;
  base::WeakPtrFactory<Installer> weak_factory_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_H_
