// InstallerRunner: the front end's handle on an installation. Start locks the install
// folder for this front end (a global mutex), listens on the installer mailslot and
// launches the backend process, which reports over the mailslot; every report reaches
// the runner's observers as the InstallerObserver call it stands for, and the backend's
// exit ends the installation with OnInstallationDone.
//
//   InstallerRunner runner(package_folder, assistant_folder);
//   runner.AddObserver(this);
//   if (!runner.Start(&settings)) ...   // the observers heard OnError
//   runner.OnPackageReady();            // once the package is complete
#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_RUNNER_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_RUNNER_H_

#include <windows.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/memory/weak_ptr.h"
#include "base/observer_list.h"
#include "base/process/process.h"
#include "base/win/object_watcher.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/installer_observer.h"
#include "desktop/windows/installer/ipc/ipc_receiver.h"

namespace installer {

class Settings;

class InstallerRunner : public base::ObjectWatcher::Delegate, public IpcReceiver::Delegate {
 public:
  // Makes the inheritable handle to this process that the backend watches; invalid when
  // it cannot be made.
  using OwnHandleDuplicator = base::ScopedHandle (*)();

  InstallerRunner(const base::FilePath& package_folder, const base::FilePath& assistant_folder,
                  OwnHandleDuplicator duplicate_own_handle = &DuplicateOwnHandle);
  ~InstallerRunner() override;
  InstallerRunner(const InstallerRunner&) = delete;
  InstallerRunner& operator=(const InstallerRunner&) = delete;

  void AddObserver(InstallerObserver* observer) { observers_.AddObserver(observer); }
  void RemoveObserver(InstallerObserver* observer) { observers_.RemoveObserver(observer); }

  // Locks the folder and launches the backend for `settings` (borrowed until Stop). True
  // when the backend runs and is watched; otherwise the observers heard one OnError.
  [[nodiscard]] bool Start(Settings* settings);
  // The package is complete in the package folder; tells a waiting backend so.
  void OnPackageReady();
  // The package folder is unpacked from a full-package installer (the front end's own,
  // or one it downloaded): the backend always waits for it and hands it over.
  void set_from_full_package() { from_full_package_ = true; }
  // Interrupts a running backend and lets go of the folder. Destroying the runner also
  // waits, for a bounded time, until a running backend has ended.
  void Stop();

  bool backend_running() const { return backend_running_; }
  // Blocks until a backend still running has ended, for a bounded time.
  void WaitForBackendEnd();

  // The backend's command line for `settings`: their command-line form with
  // `replacements` put in place of switches of the same name.
  static base::CommandLine BuildBackendCommandLine(
      const base::CommandLine& settings_form, const base::CommandLine::SwitchMap& replacements);
  // The 8 bytes of `handle`, lowest first, as upper-case hexadecimal.
  static std::string FormatHandleSwitch(HANDLE handle);

  // The system's inheritable copy of this process's handle, for synchronisation only.
  [[nodiscard]] static base::ScopedHandle DuplicateOwnHandle();

  // base::ObjectWatcher::Delegate:
  void OnObjectSignaled(HANDLE object) override;
  // IpcReceiver::Delegate:
  void OnMessageReceived(const base::SerialBuffer& message) override;

 private:
  class ObserverFanOut;

  // Once the backend has left its clean-up batch to this process: starts it at the
  // process's exit.
  void TakeLeftCleanupBatch();

  // Notifies OnError, logs `message` (with `detail`, in one line) and returns false.
  [[nodiscard]] bool Fail(uint32_t code, const std::string& message,
                          const std::string& detail = std::string());
  // The backend's program: the package's installer, or this program waiting for the
  // package (the switch for it put in `replacements`). False once OnError was told.
  [[nodiscard]] bool ChooseBackendProgram(const base::FilePath& folder, base::FilePath* program,
                                          base::CommandLine::SwitchMap* replacements);
  // Holds the installer mutex of `folder`: one installation per folder at a time.
  [[nodiscard]] bool AcquireInstallerMutex(const base::FilePath& folder);
  // Starts `program` as the backend with the settings' command line and `replacements`,
  // handing it a handle to this process.
  [[nodiscard]] bool LaunchBackend(const base::FilePath& program,
                                   base::CommandLine::SwitchMap replacements);
  // The backend has ended and its waiting reports are read: decides the outcome, at once
  // or once the reports of the processes it handed over to are all in (bounded).
  void NotifyDone(DWORD exit_code);
  // Whether every installer process that can still report has reported its success:
  // one success each, the backend's included, but for the processes whose hand-over
  // never returned (they report only after it).
  bool EveryProcessReported() const;
  // Tells the observers the outcome: OnError with the reason when the run failed
  // without one, then OnInstallationDone.
  void Decide();

  IpcReceiver receiver_;
  OwnHandleDuplicator duplicate_own_handle_;
  base::FilePath assistant_folder_;
  base::FilePath package_folder_;
  // The install folder in the one spelling the installation's objects are named by.
  base::FilePath folder_;
  base::Process backend_;
  base::ScopedHandle mutex_;
  base::ObjectWatcher backend_watcher_;
  base::ScopedHandle package_ready_event_;
  base::ScopedHandle interrupted_event_;
  // Set by an uninstalling backend that leaves its clean-up batch to this process.
  base::ScopedHandle cleanup_left_event_;
  base::FilePath cleanup_batch_;
  Settings* settings_ = nullptr;
  bool started_ = false;
  bool have_package_ = false;
  bool from_full_package_ = false;
  bool backend_running_ = false;
  // What the installer processes reported, counted to decide the run's outcome (see
  // ObserverFanOut): the hand-overs announced, those not yet returned, the successes and
  // those of them not yet told to the observers.
  int hand_overs_ = 0;
  int open_hand_overs_ = 0;
  int successes_ = 0;
  int held_successes_ = 0;
  bool hand_over_returned_ = false;
  bool error_reported_ = false;
  // The backend's end, once seen; the outcome is decided once, possibly later.
  bool backend_exited_with_zero_ = false;
  DWORD backend_exit_code_ = 1;
  bool awaiting_reports_ = false;
  bool decided_ = false;
  base::ObserverList<InstallerObserver> observers_;
  base::WeakPtrFactory<InstallerRunner> weak_factory_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_RUNNER_H_
