// InstallerObserver: how an installation reports its progress and its end. The backend's
// Installer notifies it directly; the front end's runner decodes the same notifications
// from the backend's IPC messages (ipc/installer_message.h).
#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_OBSERVER_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_OBSERVER_H_

#include <stdint.h>

#include <string>

namespace installer {

class InstallerObserver {
 public:
  virtual ~InstallerObserver() = default;

  // The checks passed and the install folder exists; the installation proper starts.
  virtual void OnStarted() = 0;
  // Another installer process (elevated copy, the package's own installer) takes over.
  virtual void OnStartingNewMainProcess(bool value) = 0;
  // That other process has ended and this one continues.
  virtual void OnReturnedToPreviousMainProcess() = 0;
  // The progress denominator.
  virtual void OnTotalSteps(int32_t total) = 0;
  // One more step has been scheduled.
  virtual void OnStep() = 0;
  // A named event for the statistics record, such as "file_copy_retry".
  virtual void OnImportantEvent(const std::string& name) = 0;
  // The installation failed with an installer error code (installation_context.h).
  virtual void OnError(uint32_t code, const std::wstring& argument,
                       const std::string& message) = 0;
  virtual void OnSuccess() = 0;
  // The installation has ended; a cancelling Installer notifies it with false.
  virtual void OnInstallationDone(bool success) = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_OBSERVER_H_
