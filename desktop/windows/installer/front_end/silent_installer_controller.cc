#include "desktop/windows/installer/front_end/silent_installer_controller.h"

#include "base/bind.h"
#include "base/files/file_enumerator.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/thread_task_runner_handle.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/settings/status.h"

namespace installer {

namespace {

// The package fetcher's statuses that the controller acts on.
const int kStatusDownloading = 1;
const int kStatusPackageReady = 5;
const int kStatusInitializationFailed = 6;
const int kStatusDownloadFailed = 7;
const int kStatusUnpackingFailed = 8;

// The error code of a folder that could not be written.
const uint32_t kErrorCannotWriteFolder = 3;

}  // namespace

SilentInstallerController::SilentInstallerController()
    : SilentInstallerController(System()) {}

SilentInstallerController::SilentInstallerController(const System& system)
    : system_(system), stats_(this) {}

SilentInstallerController::~SilentInstallerController() = default;

bool SilentInstallerController::Run(Settings* settings, PayloadReader* payload,
                                    const base::FilePath& download_folder) {
  settings_ = settings;
  settings_->AddObserver(this);
  VLOG(1) << (payload ? "Initializing controller with fetcher."
                      : "Initializing controller without fetcher.");
  package_.Create(payload, download_folder, system_.own_folder, *settings_, stats_.root(), this,
                  this);
  if (package_.fetcher())
    package_.fetcher()->Start();
  else
    package_ready_ = true;
  package_.runner()->AddObserver(this);
  if (!settings_->fetching_status()) {
    VLOG(1) << "Settings already obtained. Starting.";
    if (!base::CurrentThreadTaskRunner::Get()->PostTask(
            FROM_HERE, base::Bind(&SilentInstallerController::StartInstallation,
                                  weak_factory_.GetWeakPtr()))) {
      Terminate();
    }
  }
  run_loop_.Run();
  LOG(INFO) << "Controller exiting";
  package_.runner()->RemoveObserver(this);
  settings_->RemoveObserver(this);
  return success_;
}

void SilentInstallerController::OnPathChanged() {
  if (terminated_) return;
  const bool all_users = settings_->flag(Settings::ALL_USERS_FLAG);
  const bool elevation_needed =
      system_.needs_elevation(all_users, settings_->status().write_access() != 0);
  if (settings_->flag(Settings::SILENT) && all_users && elevation_needed) {
    VLOG(2) << "Cannot elevate in when silent. Switching to current user mode.";
    if (!settings_->SetMode(Settings::MODE_CURRENT_USER)) {
      // Still all users: no folder of the current user can help.
      stats_.root()->SetString("failure_reason", "Cannot switch to current user mode");
      Terminate();
      return;
    }
    if (settings_->fetching_status()) return;  // the mode moved the folder
    const base::FilePath folder = settings_->GetDefaultInstallFolder(Settings::SOURCE_REGISTRY |
                                                                     Settings::SOURCE_STANDARD);
    if (folder != settings_->install_folder()) {
      settings_->SetInstallFolder(folder);
      if (settings_->fetching_status()) return;  // OnPathChanged comes back
    }
  } else if (!settings_->flag(Settings::AUTOUPDATE) && elevation_needed) {
    const base::FilePath folder = settings_->GetDefaultInstallFolder(
        Settings::SOURCE_COMMAND_LINE | Settings::SOURCE_STANDARD);
    if (folder != settings_->install_folder()) {
      settings_->SetInstallFolder(folder);
      if (settings_->fetching_status()) return;
    }
  }
  VLOG(1) << "Settings obtained. Starting.";
  StartInstallation();
}

void SilentInstallerController::StartInstallation() {
  if (terminated_) return;
  settings_->WriteStats(std::string(), stats_.root());
  if (system_.before_windows_7()) {
    LOG(ERROR) << "This version of Velum doesn't support windows versions prior to Windows 7";
    Terminate();
    return;
  }
  if (!system_.has_sse2()) {
    LOG(ERROR) << "SSE2 not supported by the computer";
    Terminate();
    return;
  }
  if (package_ready_) {
    VLOG(2) << "Got tracking data from package.";
    HandleTrackingData();
  }
  VLOG(2) << "Preparing to run the installer.";
  if (!package_.runner()->Start(settings_)) Terminate();
}

void SilentInstallerController::HandleTrackingData() {
  package_.HandleTrackingData(
      *settings_, stats_.root(),
      base::Bind(&SilentInstallerController::TrackingDataActionsDone, weak_factory_.GetWeakPtr()));
}

void SilentInstallerController::TrackingDataActionsDone() {
  VLOG(2) << "Tracking data actions done: package complete.";
  package_.runner()->OnPackageReady();
}

void SilentInstallerController::NotifyStatusChanged(int status) {
  switch (status) {
    case kStatusDownloading:
      VLOG(2) << "Package will be downloaded.";
      package_downloaded_ = true;
      break;
    case kStatusPackageReady:
      VLOG(1) << "Package fetched successfully.";
      package_ready_ = true;
      if (settings_->fetching_status()) break;
      VLOG(2) << "Got tracking data from status.";
      HandleTrackingData();
      break;
    case kStatusInitializationFailed:
    case kStatusDownloadFailed:
    case kStatusUnpackingFailed:
      if (package_.fetcher() && package_.fetcher()->Retry()) break;
      VLOG(1) << "Package fetcher failed.";
      stats_.root()->SetString("failure_reason", "Fetcher error");
      Terminate();
      break;
    default:
      break;
  }
}

void SilentInstallerController::RunUICallbackAndPostReply(
    UICallback /*ui_callback*/, base::scoped_refptr<base::SequencedTaskRunner> reply_runner,
    Reply reply) {
  LOG(ERROR) << "Cannot display UI requested by fetcher when running silently";
  if (!reply_runner->PostTask(FROM_HERE, base::Bind([reply]() { reply.Run(0u); })))
    LOG(ERROR) << "Could not answer the fetcher";
}

void SilentInstallerController::OnImportantEvent(const std::string& name) {
  stats_.root()->Increment(name);
}

void SilentInstallerController::OnError(uint32_t code, const std::wstring& /*argument*/,
                                        const std::string& message) {
  stats_.root()->SetString("failure_reason", message);
  if (code == kErrorCannotWriteFolder) {
    stats_.root()->SetString("installation_folder_contents",
                             ListFolderContents(settings_->install_folder()));
  }
  VLOG(2) << "Installer error: terminating";
  Terminate();
}

void SilentInstallerController::OnSuccess() {
  // The backend's end decides: one that does not end with 0 fails the run, even now. One
  // that never ends does not hold the run past the bound.
  VLOG(2) << "Installer succeeded: waiting for the backend to end";
  if (!base::CurrentThreadTaskRunner::Get()->PostDelayedTask(
          FROM_HERE,
          base::Bind(&SilentInstallerController::EndAfterSuccess, weak_factory_.GetWeakPtr()),
          backend_end_bound_)) {
    EndAfterSuccess();
  }
}

void SilentInstallerController::EndAfterSuccess() {
  if (terminated_) return;
  LOG(WARNING) << "The installer backend has not ended " << backend_end_bound_.InSecondsF()
               << " s after it reported success: ending with its success";
  success_ = true;
  Terminate();
}

void SilentInstallerController::OnInstallationDone(bool success) {
  success_ = success;
  VLOG(2) << "Installer ended. Success is " << success << ". terminating";
  if (!base::CurrentThreadTaskRunner::Get()->PostDelayedTask(
          FROM_HERE, base::Bind(&SilentInstallerController::Terminate, weak_factory_.GetWeakPtr()),
          terminate_delay_)) {
    Terminate();
  }
}

// static
std::string SilentInstallerController::ListFolderContents(const base::FilePath& folder) {
  std::string text;
  base::FileEnumerator entries(folder, true,
                               base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES,
                               L"*");
  for (base::FilePath path = entries.Next(); !path.empty(); path = entries.Next()) {
    if (!entries.GetInfo().IsDirectory()) {
      base::FilePath relative;
      if (folder.AppendRelativePath(path.DirName(), &relative))
        text += base::WideToUTF8(relative.value()) + "\\";
    }
    text += base::WideToUTF8(path.BaseName().value()) + "\n";
  }
  return text;
}

void SilentInstallerController::Terminate() {
  if (terminated_) {
    VLOG(2) << "Termination already done.";
    return;
  }
  terminated_ = true;
  package_.DeleteFetcher();
  stats_.root()->SetInteger("installation_success", success_ ? 1 : 0);
  if (settings_->flag(Settings::ENABLE_INSTALLER_STATS) &&
      (!settings_->flag(Settings::AUTOUPDATE) || !success_)) {
    LOG(INFO) << "Sending stats";
    stats_.Send(run_loop_.QuitClosure(), package_downloaded_);
  } else {
    LOG(INFO) << "Not sending stats";
    run_loop_.Quit();
  }
}

}  // namespace installer
