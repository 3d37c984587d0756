// InstallerRunnerBackend: the backend process's whole run. It watches the front end
// that started it, waits until the installation request is complete, runs the
// Installer on the current thread's message loop and forwards every notification to
// the front end over the installer mailslot. When the front end goes away the run is
// abandoned; destroying the backend then rolls the installation back.
//
//   InstallerRunnerBackend backend;   // the thread runs a default MessageLoop
//   bool ok = backend.RunInstallerBackend(&settings);
#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_RUNNER_BACKEND_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_RUNNER_BACKEND_H_

#include <windows.h>
#include <stdint.h>

#include <string>

#include "base/run_loop.h"
#include "base/win/object_watcher.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/installer.h"
#include "desktop/windows/installer/installer_observer.h"
#include "desktop/windows/installer/ipc/ipc_sender.h"
#include "desktop/windows/installer/settings/settings_observer.h"

namespace installer {

class Settings;

class InstallerRunnerBackend : public SettingsObserver,
                               public InstallerObserver,
                               public base::ObjectWatcher::Delegate {
 public:
  InstallerRunnerBackend();
  ~InstallerRunnerBackend() override;
  InstallerRunnerBackend(const InstallerRunnerBackend&) = delete;
  InstallerRunnerBackend& operator=(const InstallerRunnerBackend&) = delete;

  // Runs the installation `settings` (borrowed) ask for; true when it succeeded.
  [[nodiscard]] bool RunInstallerBackend(Settings* settings);

  // The value of "initial-proc-handle": 8 bytes (the handle, lowest byte first) or 4
  // (a signed 32-bit value, lowest byte first) in hexadecimal. False otherwise.
  [[nodiscard]] static bool ParseInitialProcessHandle(const std::string& value, HANDLE* handle);

  Installer* installer() { return &installer_; }

  // SettingsObserver:
  void OnFlagChanged() override {}
  void OnLanguageChanged() override {}
  void OnPathChanged() override;

  // InstallerObserver:
  void OnStarted() override;
  void OnStartingNewMainProcess(bool value) override;
  void OnReturnedToPreviousMainProcess() override;
  void OnTotalSteps(int32_t total) override;
  void OnStep() override;
  void OnImportantEvent(const std::string& name) override;
  void OnError(uint32_t code, const std::wstring& argument, const std::string& message) override;
  void OnSuccess() override;
  void OnInstallationDone(bool success) override;

  // base::ObjectWatcher::Delegate:
  void OnObjectSignaled(HANDLE object) override;

 private:
  // The front end's process from the command line; false (logged) when unusable.
  [[nodiscard]] bool OpenFrontEnd(bool* watch);
  void StartInstallation();
  void Send(std::unique_ptr<base::SerialBuffer> message);

  base::RunLoop run_loop_;
  base::ScopedHandle front_end_;
  base::ObjectWatcher front_end_watcher_;
  // Set by the front end when it stops the run (and its reading).
  base::ScopedHandle front_end_stopped_;
  IpcSender sender_;
  Installer installer_;
  Settings* settings_ = nullptr;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_RUNNER_BACKEND_H_
