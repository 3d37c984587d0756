// InstallerUIController: the interactive installer. It keeps to one installer window per
// user session, shows the wizard, fetches the package in the background while the user
// reads the welcome page, starts the backend when the user accepts (at once with
// "runimmediately"), shows the phases of the installation and its errors, offers a
// current-user installation or the full installer after failures, records statistics
// and ends the run.
//
//   InstallerUIController controller;
//   bool success = controller.RunUI(&settings, payload_or_null, download_folder, false);
#ifndef DESKTOP_WINDOWS_INSTALLER_FRONT_END_INSTALLER_UI_CONTROLLER_H_
#define DESKTOP_WINDOWS_INSTALLER_FRONT_END_INSTALLER_UI_CONTROLLER_H_

#include <stdint.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/memory/weak_ptr.h"
#include "base/run_loop.h"
#include "desktop/windows/installer/front_end/front_end_package.h"
#include "desktop/windows/installer/front_end/front_end_system.h"
#include "desktop/windows/installer/installer_observer.h"
#include "desktop/windows/installer/installer_stats.h"
#include "desktop/windows/installer/wininet/fetcher_delegate.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher.h"
#include "desktop/windows/installer/settings/settings_observer.h"
#include "desktop/windows/installer/ui/installer_ui_lock.h"
#include "desktop/windows/installer/ui/installer_window.h"
#include "desktop/windows/installer/ui/installer_window_delegate.h"

namespace installer {

class PayloadReader;
class Settings;
class StatsNode;

class InstallerUIController : public SettingsObserver,
                              public InstallerWindowDelegate,
                              public FetcherUIDelegate,
                              public FetcherDelegate,
                              public InstallerObserver {
 public:
  // What the controller asks of the machine; tests replace it.
  struct System : FrontEndSystem {
    System();
    // Makes the wizard; null when it cannot be made.
    std::function<std::unique_ptr<InstallerWindow>(Settings*, std::unique_ptr<StatsNode>, bool,
                                                   const InstallerWindowAnswers&)>
        create_window;
    // Whether the options may offer making the browser the default.
    std::function<bool()> can_offer_default_browser;
    // Opens |file| with |parameters| ("open", environment variables expanded).
    std::function<bool(const std::wstring& file, const std::wstring& parameters)> open;
    // The product name of the UI lock's mutex.
    std::wstring product_name;
  };

  // The progress phases; their weights make up the bar.
  enum Phase : int {
    PHASE_PREPARING = 0,
    PHASE_DOWNLOADING = 1,
    PHASE_EXTRACTING = 2,
    PHASE_COMPONENTS = 3,
    PHASE_PACKAGE_READY = 4,
    PHASE_INSTALLING = 5,
  };

  InstallerUIController();
  explicit InstallerUIController(const System& system);
  ~InstallerUIController() override;
  InstallerUIController(const InstallerUIController&) = delete;
  InstallerUIController& operator=(const InstallerUIController&) = delete;

  // The whole interactive run; |payload| may be null (running from an unpacked package).
  // False when another installer window runs (it is brought to the front) or when the
  // installation did not succeed.
  [[nodiscard]] bool RunUI(Settings* settings, PayloadReader* payload,
                           const base::FilePath& download_folder, bool run_immediately);

  // The bar's position for |current| of |total| units in |phase|, and its range.
  static int ProgressPosition(int phase, uint32_t current, uint32_t total);
  static int ProgressRange();
  // The text shown for installer error |code| (any code without a text of its own shows
  // the generic one of the operation).
  static uint32_t ErrorStringId(uint32_t code, bool uninstall);

  // SettingsObserver:
  void OnFlagChanged() override {}
  void OnLanguageChanged() override {}
  void OnPathChanged() override;

  // InstallerWindowDelegate:
  void OnAccept() override;
  void OnCancel() override;
  void OnObtainFullPackage() override;

  // FetcherUIDelegate:
  void RunUICallbackAndPostReply(UICallback ui_callback,
                                 base::scoped_refptr<base::SequencedTaskRunner> reply_runner,
                                 Reply reply) override;

  // FetcherDelegate:
  void SetTotalProgress(uint32_t total) override;
  void SetCurrentProgress(uint32_t current) override;
  void NotifyStalled(uint32_t) override {}
  void NotifyStatusChanged(int status) override;

  // InstallerObserver:
  void OnStarted() override {}
  void OnStartingNewMainProcess(bool) override {}
  void OnReturnedToPreviousMainProcess() override {}
  void OnTotalSteps(int32_t steps) override;
  void OnStep() override;
  void OnImportantEvent(const std::string& name) override;
  void OnError(uint32_t code, const std::wstring& argument, const std::string& message) override;
  void OnSuccess() override;
  void OnInstallationDone(bool success) override;

  // Tests only.
  InstallerStats* stats_for_testing() { return &stats_; }
  PackageFetcher* fetcher_for_testing() { return package_.fetcher(); }
  InstallerRunner* runner_for_testing() { return package_.runner(); }
  InstallerWindow* window_for_testing() { return window_.get(); }
  int phase_for_testing() const { return phase_; }
  bool fetcher_failed_for_testing() const { return fetcher_failed_; }
  void SetOverridesFeatureForTesting(bool enabled) {
    package_.SetOverridesFeatureForTesting(enabled);
  }

 private:
  struct PendingError {
    uint32_t string_id;
    std::wstring argument;
    std::string message;
  };
  struct PendingUIRequest {
    UICallback ui_callback;
    base::scoped_refptr<base::SequencedTaskRunner> reply_runner;
    Reply reply;
  };

  void Init();
  // A runner runs one installation: every try after the first gets a new one.
  void RenewRunner();
  void HandleTrackingData();
  void TrackingDataActionsDone();
  void ReportError(uint32_t string_id, const std::wstring& argument, const std::string& message);
  void HandlePendingError();
  void DoRunUICallbackAndPostReply(const PendingUIRequest& request);
  void ShowPhase();
  // The phase whose text the window shows.
  int ShownPhase() const;
  void UpdateProgress();
  void TerminateUI();
  void PostToThisThread(const base::Closure& task, base::TimeDelta delay);

  System system_;
  base::RunLoop run_loop_;
  Settings* settings_ = nullptr;
  std::unique_ptr<PendingUIRequest> pending_ui_request_;
  bool installation_started_ = false;
  std::unique_ptr<PendingError> pending_error_;
  int phase_ = PHASE_PREPARING;
  bool fetcher_failed_ = false;
  uint32_t total_ = 0;
  uint32_t current_ = 0;
  bool run_immediately_ = false;
  bool without_payload_ = false;
  // The installer carries the full package.
  bool local_package_ = false;
  bool package_downloaded_ = false;
  bool error_shown_before_ = false;
  bool accept_pending_ = false;
  bool initial_stats_written_ = false;
  bool success_ = false;
  // The installation failed and its error page is about to be shown.
  bool error_page_pending_ = false;
  bool ui_terminated_ = false;
  bool observing_settings_ = false;
  bool runner_started_ = false;
  InstallerUILock ui_lock_;
  InstallerStats stats_;
  std::unique_ptr<InstallerWindow> window_;
  // The window after the UI ended, hidden.
  std::unique_ptr<InstallerWindow> closed_window_;
  // The package fetcher, the runner, the overrides fetcher and the tracking data.
  FrontEndPackage package_;
  base::TimeDelta error_delay_ = base::TimeDelta::FromMilliseconds(100);
  base::WeakPtrFactory<InstallerUIController> weak_factory_{this};
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_FRONT_END_INSTALLER_UI_CONTROLLER_H_
