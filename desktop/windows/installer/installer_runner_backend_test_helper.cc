// Test helper: a backend process as the installer's entry starts it for "backend" (the
// process command line, COM in a single-threaded apartment, logging into the installer's
// log folder, a default message loop, the request read from the command line), running
// InstallerRunnerBackend. The tests copy it into a package folder as "installer.exe",
// the program a front end starts when the package is present.
//
// For the tests only: the environment variable VELUM_TEST_USER_HIVE names a key under
// HKEY_CURRENT_USER that stands in for the whole hive, as in the test EXE's own runs, and
// VELUM_TEST_SHELL_FOLDERS a folder whose "Desktop", "Programs" and "Quick Launch" stand
// in for the shell's shortcut folders (the test prefix's own are shared by every test).
// VELUM_TEST_HOLD_ROLLBACK names an event that a failed installation waits for once its
// error is on its way to the front end, before it rolls back.
// "version", "internal-version" and "stream" are answered as the installer answers them.
// Exit code 0 when the installation succeeded, 1 when not, 2 when the set-up failed;
// VELUM_TEST_BACKEND_EXIT_CODE replaces the first two, as a backend ended from outside
// after its reports would end; VELUM_TEST_HOLD_END names an event the backend waits for
// (two minutes at most) before it ends.
#include <windows.h>
#include <objbase.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "base/at_exit.h"
#include "base/base_paths.h"
#include "base/bind.h"
#include "base/command_line.h"
#include "base/features/feature_registry.h"
#include "base/files/file_path.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/path_service.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/front_end/installer_help.h"
#include "desktop/windows/installer/settings/feature_flags.h"
#include "desktop/windows/installer/installer_runner_backend.h"
#include "desktop/windows/installer/package_fetcher/full_package_unpacker.h"
#include "desktop/windows/installer/installer_temp_folder.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/settings/settings_platform.h"

namespace {

bool UsePrivateUserHive(HKEY* key) {
  wchar_t path[512] = {};
  DWORD length = GetEnvironmentVariableW(L"VELUM_TEST_USER_HIVE", path, 512);
  if (length == 0) return true;
  if (length >= 512) return false;
  return RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_ALL_ACCESS, key) == ERROR_SUCCESS &&
         RegOverridePredefKey(HKEY_CURRENT_USER, *key) == ERROR_SUCCESS;
}

bool UsePrivateShellFolders() {
  wchar_t path[MAX_PATH] = {};
  DWORD length = GetEnvironmentVariableW(L"VELUM_TEST_SHELL_FOLDERS", path, MAX_PATH);
  if (length == 0) return true;
  if (length >= MAX_PATH) return false;
  const base::FilePath root(path);
  const struct {
    int key;
    const wchar_t* name;
  } kFolders[] = {{base::DIR_USER_DESKTOP, L"Desktop"},
                  {base::DIR_COMMON_DESKTOP, L"Desktop"},
                  {base::DIR_START_MENU, L"Programs"},
                  {base::DIR_COMMON_START_MENU, L"Programs"},
                  {base::DIR_USER_QUICK_LAUNCH, L"Quick Launch"}};
  for (const auto& folder : kFolders) {
    if (!base::PathRegistry::Override(folder.key, root.Append(folder.name), true, true))
      return false;
  }
  return true;
}

// Heard after the backend, which has queued the error for the front end by then; the
// installer rolls back when the observers return.
class RollbackHold : public installer::InstallerObserver {
 public:
  explicit RollbackHold(HANDLE release) : release_(release) {}
  void OnStarted() override {}
  void OnStartingNewMainProcess(bool) override {}
  void OnReturnedToPreviousMainProcess() override {}
  void OnTotalSteps(int32_t) override {}
  void OnStep() override {}
  void OnImportantEvent(const std::string&) override {}
  void OnSuccess() override {}
  void OnInstallationDone(bool) override {}
  void OnError(uint32_t, const std::wstring&, const std::string&) override {
    // Bounded so that a test gone wrong leaves no process behind.
    WaitForSingleObject(release_, 120000);
  }

 private:
  HANDLE release_;
};

base::ScopedHandle OpenRollbackHold() {
  wchar_t name[MAX_PATH] = {};
  DWORD length = GetEnvironmentVariableW(L"VELUM_TEST_HOLD_ROLLBACK", name, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return base::ScopedHandle();
  return base::ScopedHandle(OpenEventW(SYNCHRONIZE, FALSE, name));
}

base::FilePath LogFilePath() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t name[64];
  swprintf(name, 64, L"velum_installer_%04d%02d%02d%02d%02d%02d%03d.log", now.wYear,
           now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
  base::FilePath folder;
  if (!installer::ObtainInstallerTempFolder(base::FilePath(L"Velum Installer"),
                                            base::FilePath(), &folder))
    return base::FilePath(name);
  return folder.Append(name);
}

}  // namespace

int wmain(int, wchar_t**) {
  base::CommandLine::Init();
  // As the entry answers a version check before anything else: an elevated hand-over asks
  // the full-package installer it takes.
  if (installer::PrintInformationalSwitch(*base::CommandLine::ForCurrentProcess())) return 0;
  base::ExitCallbackStack exit_callbacks;
  HKEY hive = nullptr;
  if (!UsePrivateUserHive(&hive) || !UsePrivateShellFolders()) return 2;
  const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  installer::RegisterInstallerFlags(base::FeatureRegistry::GetInstance()->GetFeatureStates());
  const base::FilePath log_file = LogFilePath();
  base::LoggingSettings logging_settings;
  logging_settings.log_file = log_file.value().c_str();
  logging_settings.delete_old = base::DELETE_OLD_LOG_FILE;
  // As the entry does, the result is not checked: without a file the log goes nowhere.
  (void)base::InitLogging(logging_settings);
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  LOG(INFO) << "Command line: " << command_line.GetCommandLineString().c_str();

  bool succeeded = false;
  {
    base::MessageLoop loop;
    installer::Settings settings(
        command_line.HasSwitch("uninstall"), command_line.HasSwitch("silent"),
        command_line.HasSwitch("autoupdate"), command_line.GetSwitchValuePath("installfolder"),
        command_line.HasSwitch("replacebasaltinstallation"), 1, &command_line,
        installer::GetDefaultSettingsPlatform());
    installer::InstallerRunnerBackend backend;
    installer::FullPackageUnpacker unpacker;
    backend.installer()->SetPackageUnpacker(&unpacker);
    base::ScopedHandle release = OpenRollbackHold();
    RollbackHold hold(release.Get());
    if (release.IsValid()) {
      // Runs once the backend observes the installer, so the hold is heard after it.
      base::CurrentThreadTaskRunner::Get()->PostTask(
          FROM_HERE, base::Bind([&backend, &hold] { backend.installer()->AddObserver(&hold); }));
    }
    succeeded = backend.RunInstallerBackend(&settings);
    if (release.IsValid()) backend.installer()->RemoveObserver(&hold);
  }
  if (com) CoUninitialize();
  if (hive) {
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    RegCloseKey(hive);
  }
  wchar_t hold_end[MAX_PATH] = {};
  const DWORD hold_length = GetEnvironmentVariableW(L"VELUM_TEST_HOLD_END", hold_end, MAX_PATH);
  if (hold_length > 0 && hold_length < MAX_PATH) {
    const base::ScopedHandle end(OpenEventW(SYNCHRONIZE, FALSE, hold_end));
    if (end.IsValid()) WaitForSingleObject(end.Get(), 120000);
  }
  wchar_t forced[16] = {};
  const DWORD forced_length = GetEnvironmentVariableW(L"VELUM_TEST_BACKEND_EXIT_CODE", forced, 16);
  if (forced_length > 0 && forced_length < 16) return _wtoi(forced);
  return succeeded ? 0 : 1;
}
