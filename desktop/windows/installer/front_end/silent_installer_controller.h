// SilentInstallerController: runs an unattended installation, upgrade or uninstallation
// in the front-end process. It gets the package through the PackageFetcher when the
// installer carries a payload, starts the backend through the InstallerRunner, keeps the
// statistics record and ends the run when the installation reports its end.
//
//   SilentInstallerController controller;
//   bool success = controller.Run(&settings, payload_reader_or_null, download_folder);
#ifndef DESKTOP_WINDOWS_INSTALLER_FRONT_END_SILENT_INSTALLER_CONTROLLER_H_
#define DESKTOP_WINDOWS_INSTALLER_FRONT_END_SILENT_INSTALLER_CONTROLLER_H_

#include <stdint.h>

#include <string>

#include "base/files/file_path.h"
#include "base/memory/weak_ptr.h"
#include "base/run_loop.h"
#include "desktop/windows/installer/front_end/front_end_package.h"
#include "desktop/windows/installer/front_end/front_end_system.h"
#include "desktop/windows/installer/installer_observer.h"
#include "desktop/windows/installer/installer_stats.h"
#include "desktop/windows/installer/wininet/fetcher_delegate.h"
#include "desktop/windows/installer/settings/settings_observer.h"

namespace installer {

class PayloadReader;
class Settings;

class SilentInstallerController : public SettingsObserver,
                                  public FetcherUIDelegate,
                                  public FetcherDelegate,
                                  public InstallerObserver {
 public:
  // What the controller asks of the machine; tests replace it.
  using System = FrontEndSystem;

  SilentInstallerController();
  explicit SilentInstallerController(const System& system);
  ~SilentInstallerController() override;
  SilentInstallerController(const SilentInstallerController&) = delete;
  SilentInstallerController& operator=(const SilentInstallerController&) = delete;

  // The whole run; `payload` may be null (running from an unpacked package). True when
  // the installation succeeded.
  [[nodiscard]] bool Run(Settings* settings, PayloadReader* payload,
                         const base::FilePath& download_folder);

  // SettingsObserver:
  void OnFlagChanged() override {}
  void OnLanguageChanged() override {}
  void OnPathChanged() override;

  // FetcherUIDelegate:
  void RunUICallbackAndPostReply(UICallback ui_callback,
                                 base::scoped_refptr<base::SequencedTaskRunner> reply_runner,
                                 Reply reply) override;

  // FetcherDelegate:
  void SetTotalProgress(uint32_t) override {}
  void SetCurrentProgress(uint32_t) override {}
  void NotifyStalled(uint32_t) override {}
  void NotifyStatusChanged(int status) override;

  // InstallerObserver:
  void OnStarted() override {}
  void OnStartingNewMainProcess(bool) override {}
  void OnReturnedToPreviousMainProcess() override {}
  void OnTotalSteps(int32_t) override {}
  void OnStep() override {}
  void OnImportantEvent(const std::string& name) override;
  void OnError(uint32_t code, const std::wstring& argument, const std::string& message) override;
  void OnSuccess() override;
  void OnInstallationDone(bool success) override;

  // Tests only: the statistics record (to point its sender at a local server before
  // Run) and the delay before the final termination.
  InstallerStats* stats_for_testing() { return &stats_; }
  void SetTerminateDelayForTesting(base::TimeDelta delay) { terminate_delay_ = delay; }
  void SetBackendEndBoundForTesting(base::TimeDelta bound) { backend_end_bound_ = bound; }
  // Tests only: whether the default-preference overrides are fetched, in place of the
  // process's feature state.
  void SetOverridesFeatureForTesting(bool enabled) {
    package_.SetOverridesFeatureForTesting(enabled);
  }

  // "installation_folder_contents": every entry under `folder`, one a line, files with
  // the folder they are in before a "\".
  static std::string ListFolderContents(const base::FilePath& folder);

 private:
  void StartInstallation();
  void HandleTrackingData();
  void TrackingDataActionsDone();
  void Terminate();
  // Ends a run whose backend reported success but has not ended within the bound.
  void EndAfterSuccess();

  System system_;
  base::RunLoop run_loop_;
  bool success_ = false;
  bool terminated_ = false;
  bool package_downloaded_ = false;
  bool package_ready_ = false;
  Settings* settings_ = nullptr;
  InstallerStats stats_;
  // The package fetcher, the runner, the overrides fetcher and the tracking data.
  FrontEndPackage package_;
  base::TimeDelta terminate_delay_ = base::TimeDelta::FromSeconds(1);
  // As long as the runner waits for a backend's end once the run is over.
  base::TimeDelta backend_end_bound_ = base::TimeDelta::FromSeconds(60);
  base::WeakPtrFactory<SilentInstallerController> weak_factory_{this};
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_FRONT_END_SILENT_INSTALLER_CONTROLLER_H_
