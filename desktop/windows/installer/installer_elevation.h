// The hand-overs of a running installation to another installer process: an
// elevated copy of itself ("runas" with "run-elevated"), the elevated
// folder-permission helper, and the package's own "installer.exe" once the
// front end has the package. Each blocks the calling (main) thread until the
// other process ends or signals.
//
// RunElevated and ObtainFolderPermission return a HandOverResult; the
// installation turns a failure into its error with GetRunElevatedError /
// GetFolderPermissionError.
#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_ELEVATION_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_ELEVATION_H_

#include <stdint.h>
#include <windows.h>

#include <string>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/win/object_watcher.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/elevated_helper/elevated_program_check.h"
#include "desktop/windows/installer/package_copy.h"

namespace installer {

enum HandOverResult : int32_t {
  HAND_OVER_SUCCEEDED = 0,
  HAND_OVER_NOT_ELEVATED = 1,    // elevation impossible or refused
  HAND_OVER_PROCESS_FAILED = 2,  // the other process failed or ended without signalling
  HAND_OVER_SETUP_FAILED = 3,    // it could not be set up
};

// The error code and message an installation reports for a failed result.
struct HandOverError {
  uint32_t code;
  const char* message;
};
HandOverError GetRunElevatedError(HandOverResult result);
HandOverError GetFolderPermissionError(HandOverResult result);

// What an elevated run tells the installation that started it.
class ElevationDelegate {
 public:
  virtual void OnStartingNewMainProcess(bool value) = 0;
  virtual void OnReturnedToPreviousMainProcess() = 0;
  // After a successful elevated copy: the work that must run as the user.
  virtual void RunPostElevationTasks() = 0;
  // After a successful elevated copy in a process that waits for the package.
  virtual void WaitForPackage(bool post_elevation_tasks) = 0;

 protected:
  ~ElevationDelegate() = default;
};

// Whether an elevation request can succeed.
bool IsUacEnabled();

// Runs this installer elevated with `settings_command_line` (the settings'
// elevated command-line form, without program) and waits for it.
[[nodiscard]] HandOverResult RunElevated(const base::CommandLine& settings_command_line,
                                         const base::CommandLine& process_command_line,
                                         ElevationDelegate* delegate);

// What a successful folder-permission helper leaves to the installation: the
// event that tells the helper the access is no longer needed, and the helper's
// process id.
struct FolderPermission {
  base::ScopedHandle undo_event;
  uint32_t helper_pid = 0;
};

// Starts the elevated folder-permission helper for `folder` and waits until it
// has granted the access (or ended). `uninstall` has the helper run the
// clean-up batch too.
[[nodiscard]] HandOverResult ObtainFolderPermission(const base::FilePath& folder, bool permanent,
                                                    bool uninstall,
                                                    const base::CommandLine& process_command_line,
                                                    FolderPermission* permission);

// Adds a GENERIC_ALL entry for the Administrators group to the event's DACL, so
// the elevated helper can open an event a standard user made.
[[nodiscard]] bool FixEventACL(HANDLE event);

// The wait for the package the front end is still downloading, and the run of
// the package's own installer. Its outcome is reported once, whatever else
// reports.
class PackageHandOver : public base::ObjectWatcher::Delegate {
 public:
  class Delegate {
   public:
    virtual void OnStartingNewMainProcess(bool value) = 0;
    virtual void OnReturnedToPreviousMainProcess() = 0;
    // The settings' command-line form (not elevated), without program.
    virtual base::CommandLine GetSettingsCommandLine() = 0;
    // Restores the folder security, sets the helper's Undo event, drops the
    // settings.
    virtual void Finish() = 0;
    // Reports the error and cancels the installation.
    virtual void ReportError(uint32_t code, const std::string& message) = 0;
    virtual void OnInstallationSucceeded() = 0;
    virtual void Cancel() = 0;
    // A named event for the statistics record.
    virtual void ReportImportantEvent(const std::string& name) = 0;

   protected:
    ~Delegate() = default;
  };

  // `process_command_line`, `delegate` and `unpacker` must outlive the object. Elevated,
  // the package is taken out of a signed full-package installer with `unpacker` (none:
  // nothing runs elevated), and the package's installer runs only when the signature
  // rule `rule` (this build's) lets it.
  PackageHandOver(const base::FilePath& install_folder,
                  const base::CommandLine* process_command_line, Delegate* delegate,
                  PackageUnpacker* unpacker, SignatureRule rule = ThisBuildSignatureRule());
  ~PackageHandOver() override;
  PackageHandOver(const PackageHandOver&) = delete;
  PackageHandOver& operator=(const PackageHandOver&) = delete;

  // Hands over at once when the package-ready event is set, else when it is.
  void WaitForPackage(bool post_elevation_tasks);

  // The installation's interrupted event, so OnObjectSignaled tells it apart.
  void set_interrupted_event(HANDLE event) { interrupted_event_ = event; }

  // The signature rule the package's installer is held to.
  SignatureRule rule() const { return rule_; }

  // Whether the hand-over has reported the installation's outcome; the
  // installation must then report none of its own.
  bool outcome_reported() const { return outcome_reported_; }

  // base::ObjectWatcher::Delegate:
  void OnObjectSignaled(HANDLE object) override;

 private:
  void RunPackageInstaller();
  // False when an outcome was reported already.
  [[nodiscard]] bool ClaimOutcome();

  base::FilePath install_folder_;
  SignatureRule rule_;
  PackageUnpacker* unpacker_;
  const base::CommandLine* process_command_line_;
  Delegate* delegate_;
  HANDLE interrupted_event_ = nullptr;
  base::ScopedHandle package_ready_event_;
  base::ObjectWatcher package_ready_watcher_;
  bool post_elevation_tasks_ = false;
  bool outcome_reported_ = false;
};

namespace internal {

// IsUacEnabled over the facts it reads: whether the user is or can become an
// administrator, the Windows version index and the policy key (HKLM's by
// default).
bool IsUacEnabledFor(bool can_be_admin, int os_version, HKEY policy_root,
                     const wchar_t* policy_key);

// The two hand-overs with the executable to start given.
[[nodiscard]] HandOverResult RunElevatedFrom(const base::FilePath& executable,
                                             const base::CommandLine& settings_command_line,
                                             const base::CommandLine& process_command_line,
                                             ElevationDelegate* delegate);
[[nodiscard]] HandOverResult ObtainFolderPermissionFrom(
    const base::FilePath& executable, const base::FilePath& folder, bool permanent,
    bool uninstall, const base::CommandLine& process_command_line, FolderPermission* permission);

}  // namespace internal

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_ELEVATION_H_
