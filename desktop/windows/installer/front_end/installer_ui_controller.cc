#include "desktop/windows/installer/front_end/installer_ui_controller.h"

#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <iterator>
#include <numeric>

#include "base/bind.h"
#include "base/logging.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/win/windows_version.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher_worker.h"
#include "desktop/windows/installer/package_fetcher/payload_reader.h"
#include "desktop/windows/installer/service/association_registration.h"
#include "desktop/windows/installer/service/installation_info.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/statistics/stats_node.h"
#include "desktop/windows/installer/settings/status.h"
#include "desktop/windows/installer/ui/win32_dialog_dispatcher.h"
#include "desktop/windows/rc_l10n_handler/localized_string.h"

namespace installer {

namespace {

const int kPhaseWeights[] = {1, 1000, 200, 1, 1, 100};

const uint32_t kErrorInstall = 0;
const uint32_t kErrorUninstall = 1;
const uint32_t kErrorCreateFolder = 4;

// Texts.
const uint32_t kNoAdminRightsString = 37061;
const uint32_t kDownloadFailedString = 37053;
const uint32_t kExtractionFailedString = 37054;
const uint32_t kIncompatibleSystemString = 37064;
const uint32_t kGetFullInstallerString = 37049;
const uint32_t kNoSse2String = 37065;

const int32_t kReleaseChannel = 4;

[[nodiscard]] bool OpenWithShell(const std::wstring& file, const std::wstring& parameters) {
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_DOENVSUBST;
  info.lpVerb = L"open";
  info.lpFile = file.c_str();
  info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
  info.nShow = SW_SHOWNORMAL;
  return ShellExecuteExW(&info) != FALSE;
}

// Windows 8 and 8.1 make the user choose the default browser; Windows 10 lets the
// installer set it only through the association interface.
bool CanOfferDefaultBrowser() {
  const base::OsVersion version = base::GetWindowsVersion();
  if (version < base::OS_VERSION_WIN8) return true;
  return version >= base::OS_VERSION_WIN10 && HasAssociationRegistration();
}

}  // namespace

InstallerUIController::System::System()
    : create_window(&InstallerWindow::Create),
      can_offer_default_browser(&CanOfferDefaultBrowser),
      open(&OpenWithShell),
      product_name(base::UTF8ToWide(GetProductName())) {}

InstallerUIController::InstallerUIController() : InstallerUIController(System()) {}

InstallerUIController::InstallerUIController(const System& system)
    : system_(system), run_loop_(Win32DialogDispatcher::GetInstance()), stats_(this) {}

InstallerUIController::~InstallerUIController() {
  if (window_) window_->RemoveDelegate(this);
  window_.reset();
  closed_window_.reset();
}

// static
int InstallerUIController::ProgressPosition(int phase, uint32_t current, uint32_t total) {
  if (phase < 0 || phase >= static_cast<int>(std::end(kPhaseWeights) - std::begin(kPhaseWeights))) return ProgressRange();
  double position = std::accumulate(kPhaseWeights, kPhaseWeights + phase, 0);
  if (total != 0) position += static_cast<double>(kPhaseWeights[phase]) * current / total;
  return static_cast<int>(position);
}

// static
int InstallerUIController::ProgressRange() {
  return std::max(1, std::accumulate(std::begin(kPhaseWeights), std::end(kPhaseWeights), 0));
}

// static
uint32_t InstallerUIController::ErrorStringId(uint32_t code, bool uninstall) {
  switch (code) {
    case 0: return 37055;
    case 1: return 37056;
    case 2: return 37058;
    case 4: return 37059;
    case 5: return 37060;
    case 6: return 37061;
    case 7: return 37063;
    case 8: return 37062;
    case 9:
    case 10: return 37057;
    default:
      // No text of its own: the failure is still the operation's.
      return uninstall ? 37056 : 37055;
  }
}

bool InstallerUIController::RunUI(Settings* settings, PayloadReader* payload,
                                  const base::FilePath& download_folder, bool run_immediately) {
  const DWORD owner = ui_lock_.Acquire(system_.product_name);
  if (owner != 0 && owner != GetCurrentThreadId()) {
    LOG(INFO) << "Another instance of the installer UI is running. Switching to it";
    InstallerUILock::ActivateWindowOfThread(owner);
    return false;
  }
  settings_ = settings;
  run_immediately_ = run_immediately;
  without_payload_ = payload == nullptr;
  local_package_ = payload && payload->type() == PayloadReader::FULL_PACKAGE;
  VLOG(1) << (payload ? "Initializing controller with fetcher."
                      : "Initializing controller without fetcher.");
  package_.Create(payload, download_folder, system_.own_folder, *settings_, stats_.root(), this,
                  this);
  if (!payload) phase_ = PHASE_PACKAGE_READY;
  if (!base::CurrentThreadTaskRunner::Get()->PostTask(
          FROM_HERE, base::Bind(&InstallerUIController::Init, weak_factory_.GetWeakPtr()))) {
    LOG(ERROR) << "Could not start the installer UI";
    return false;
  }
  run_loop_.Run();
  LOG(INFO) << "Controller exiting";
  package_.runner()->RemoveObserver(this);
  if (observing_settings_) settings_->RemoveObserver(this);
  return success_;
}

void InstallerUIController::Init() {
  LOG(INFO) << "Initializing installer UI";
  settings_->AddObserver(this);
  observing_settings_ = true;
  package_.runner()->AddObserver(this);
  InstallerWindowAnswers answers;
  // Running at once shows no options.
  answers.offer_default_browser = !run_immediately_ && system_.can_offer_default_browser();
  answers.needs_elevation = system_.needs_elevation;
  window_ = system_.create_window(settings_, stats_.root()->Clone(), run_immediately_, answers);
  if (!window_) {
    const char kMessage[] = "Could not initialize installer window";
    OnError(kErrorInstall, std::wstring(), kMessage);
    LOG(ERROR) << kMessage;
    // Nothing could show the error or end the run later.
    TerminateUI();
    return;
  }
  window_->AddDelegate(this);
  window_->SetProgressPhase(ShownPhase());
  if (!system_.has_sse2()) {
    LOG(ERROR) << "SSE2 not supported by the computer";
    window_->ShowFatalError(GetLocalizedString(kNoSse2String));
    return;
  }
  if (package_.fetcher()) {
    VLOG(1) << "Starting the package fetcher";
    package_.fetcher()->Start();
  }
  if (!settings_->fetching_status()) {
    initial_stats_written_ = true;
    settings_->WriteStats("ui.initial_", stats_.root());
  }
  stats_.root()->SetInteger("run_immediately", run_immediately_ ? 1 : 0);
  if (run_immediately_ && !settings_->fetching_status()) {
    LOG(INFO) << "runimmediately set and status already fetched.";
    PostToThisThread(base::Bind(&InstallerUIController::OnAccept, weak_factory_.GetWeakPtr()),
                     base::TimeDelta());
  }
}

void InstallerUIController::OnPathChanged() {
  VLOG(2) << "New status obtained";
  if (phase_ == PHASE_INSTALLING && package_.tracking_data().empty()) {
    VLOG(2) << "Need to handle tracking data from new path";
    phase_ = PHASE_PACKAGE_READY;
  }
  if (run_immediately_ || accept_pending_) {
    VLOG(1) << "runimmediately set or Accept already clicked";
    accept_pending_ = false;
    PostToThisThread(base::Bind(&InstallerUIController::OnAccept, weak_factory_.GetWeakPtr()),
                     base::TimeDelta());
  }
  if (!initial_stats_written_) {
    initial_stats_written_ = true;
    settings_->WriteStats("ui.initial_", stats_.root());
  }
}

void InstallerUIController::OnAccept() {
  LOG(INFO) << "Accept clicked.";
  if (ui_terminated_) return;
  if (installation_started_) {
    LOG(WARNING) << "Installation already in progress.";
    return;
  }
  if (settings_->fetching_status()) {
    VLOG(1) << "Still waiting for status";
    accept_pending_ = true;
    return;
  }
  if (phase_ == PHASE_PACKAGE_READY) {
    VLOG(1) << "Tracking data is ready for handling";
    HandleTrackingData();
  }
  if (observing_settings_) {
    settings_->RemoveObserver(this);
    observing_settings_ = false;
  }
  settings_->WriteStats(std::string(), stats_.root());
  if (system_.before_windows_7()) {
    window_->ShowError(GetLocalizedStringWithArg(kIncompatibleSystemString,
                                                 GetLocalizedString(kGetFullInstallerString)),
                       true, "This version of Velum doesn't support windows versions prior to Windows 7");
    return;
  }
  installation_started_ = true;
  if (pending_error_) {
    VLOG(1) << "An error is pending. Show it first.";
    HandlePendingError();
    return;
  }
  if (runner_started_) RenewRunner();
  runner_started_ = true;
  if (!package_.runner()->Start(settings_)) {
    VLOG(1) << "Failed to run the backend. Show whatever error was reported";
    HandlePendingError();
    return;
  }
  if (pending_ui_request_) {
    VLOG(1) << "Running pending fetcher callback.";
    std::unique_ptr<PendingUIRequest> request = std::move(pending_ui_request_);
    DoRunUICallbackAndPostReply(*request);
  }
  if (fetcher_failed_ && package_.fetcher()) {
    VLOG(1) << "Restarting fetching after background tries failed.";
    fetcher_failed_ = false;
    phase_ = PHASE_PREPARING;
    package_.fetcher()->Start();
  }
  window_->ShowProgress(ProgressPosition(phase_, current_, total_), ProgressRange());
  window_->SetProgressPhase(ShownPhase());
}

void InstallerUIController::RenewRunner() {
  package_.runner()->RemoveObserver(this);
  package_.RenewRunner();
  package_.runner()->AddObserver(this);
  // The tracking-data actions ran for the previous try: the package stays complete.
  if (phase_ == PHASE_INSTALLING) package_.runner()->OnPackageReady();
}

void InstallerUIController::HandleTrackingData() {
  package_.HandleTrackingData(
      *settings_, stats_.root(),
      base::Bind(&InstallerUIController::TrackingDataActionsDone, weak_factory_.GetWeakPtr()));
}

void InstallerUIController::TrackingDataActionsDone() {
  VLOG(2) << "Tracking data actions done: package complete.";
  phase_ = PHASE_INSTALLING;
  package_.runner()->OnPackageReady();
  if (window_ && installation_started_) {
    VLOG(2) << "Notifying installation phase change.";
    window_->SetProgressPhase(ShownPhase());
  }
}

void InstallerUIController::NotifyStatusChanged(int status) {
  switch (status) {
    case PACKAGE_STATUS_FETCHING_URL:
      VLOG(2) << "Package will be downloaded.";
      package_downloaded_ = true;
      phase_ = PHASE_PREPARING;
      break;
    case PACKAGE_STATUS_DOWNLOADING:
      phase_ = PHASE_DOWNLOADING;
      break;
    case PACKAGE_STATUS_EXTRACTING:
    case PACKAGE_STATUS_FETCHING_COMPONENTS:
      phase_ = status == PACKAGE_STATUS_EXTRACTING ? PHASE_EXTRACTING : PHASE_COMPONENTS;
      ShowPhase();
      return;
    case PACKAGE_STATUS_READY:
      VLOG(1) << "Package fetched successfully.";
      phase_ = PHASE_PACKAGE_READY;
      if (installation_started_) {
        VLOG(2) << "Got tracking data from status.";
        HandleTrackingData();
      }
      break;
    case PACKAGE_STATUS_INITIALIZATION_FAILED:
    case PACKAGE_STATUS_DOWNLOAD_FAILED:
    case PACKAGE_STATUS_UNPACKING_FAILED:
      VLOG(1) << "Package fetcher failed.";
      if (package_.fetcher() && package_.fetcher()->Retry()) {
        phase_ = PHASE_PREPARING;
        break;
      }
      fetcher_failed_ = true;
      if (installation_started_) {
        VLOG(1) << "Reporting fetcher error.";
        stats_.root()->SetString("failure_reason", "Fetcher error");
        ReportError(status == PACKAGE_STATUS_UNPACKING_FAILED ? kExtractionFailedString
                                                     : kDownloadFailedString,
                    std::wstring(), "Fetcher error");
      } else {
        LOG(WARNING) << "Exceeded maximum number of fetcher retries, we won't retry until user "
                        "decides to.";
      }
      break;
    default:
      return;
  }
  ShowPhase();
}

int InstallerUIController::ShownPhase() const {
  // A package carried by the installer is never downloaded: until it is unpacked, what
  // happens is its unpacking.
  return local_package_ && phase_ < PHASE_EXTRACTING ? PHASE_EXTRACTING : phase_;
}

void InstallerUIController::ShowPhase() {
  if (window_ && installation_started_) window_->SetProgressPhase(ShownPhase());
}

void InstallerUIController::SetTotalProgress(uint32_t total) {
  current_ = 0;
  total_ = phase_ == PHASE_COMPONENTS ? 0 : total;
}

void InstallerUIController::SetCurrentProgress(uint32_t current) {
  if (total_ == 0) return;
  current_ = current;
  UpdateProgress();
}

void InstallerUIController::RunUICallbackAndPostReply(
    UICallback ui_callback, base::scoped_refptr<base::SequencedTaskRunner> reply_runner,
    Reply reply) {
  LOG(INFO) << "Obtained UI callback request from fetcher";
  if (ui_terminated_) {
    VLOG(1) << "UI has been terminated already.";
    if (!reply_runner->PostTask(FROM_HERE,
                                base::Bind([reply]() { reply.Run(ERROR_CANCELLED); })))
      LOG(ERROR) << "Could not answer the fetcher";
    return;
  }
  PendingUIRequest request{ui_callback, reply_runner, reply};
  if (installation_started_ && !pending_error_) {
    VLOG(1) << "Run the callback at once.";
    DoRunUICallbackAndPostReply(request);
    return;
  }
  VLOG(1) << "Store callback information for later.";
  pending_ui_request_.reset(new PendingUIRequest(request));
}

void InstallerUIController::DoRunUICallbackAndPostReply(const PendingUIRequest& request) {
  const uint32_t result = request.ui_callback.Run(window_ ? window_->GetHwnd() : nullptr);
  const Reply reply = request.reply;
  if (!request.reply_runner->PostTask(FROM_HERE, base::Bind([reply, result]() { reply.Run(result); })))
    LOG(ERROR) << "Could not answer the fetcher";
}

void InstallerUIController::OnTotalSteps(int32_t steps) {
  total_ = steps > 0 ? static_cast<uint32_t>(steps) : 0;
  current_ = 1;
}

void InstallerUIController::OnStep() {
  ++current_;
  UpdateProgress();
}

void InstallerUIController::UpdateProgress() {
  if (!installation_started_ || !window_) return;
  VLOG(2) << "Updating installation progress";
  window_->SetProgressPosition(ProgressPosition(phase_, current_, total_));
}

void InstallerUIController::OnImportantEvent(const std::string& name) {
  stats_.root()->Increment(name);
}

void InstallerUIController::OnError(uint32_t code, const std::wstring& argument,
                                    const std::string& message) {
  if (!pending_error_) stats_.root()->SetString("failure_reason", message);
  // A version subfolder that could not be made comes by its name alone: the user reads
  // where it is, below the folder the options page showed.
  const base::FilePath folder(argument);
  const std::wstring shown = code == kErrorCreateFolder && !argument.empty() && !folder.IsAbsolute()
                                 ? settings_->install_folder().Append(folder).value()
                                 : argument;
  ReportError(ErrorStringId(code, settings_->flag(Settings::UNINSTALL_FLAG)), shown, message);
}

void InstallerUIController::ReportError(uint32_t string_id, const std::wstring& argument,
                                        const std::string& message) {
  // The first report names the cause; a process that ran the failed one reports its
  // failure again, without the cause.
  if (pending_error_) {
    LOG(WARNING) << "A further error, after the one to show: " << message;
    return;
  }
  VLOG(1) << "Reporting error " << string_id;
  pending_error_.reset(new PendingError{string_id, argument, message});
  package_.runner()->Stop();
}

void InstallerUIController::OnSuccess() {
  VLOG(1) << "Installer success reported";
  success_ = true;
  // The browser may start long before the backend ends: a cancel question asked
  // meanwhile asks about nothing now, and the bar is full.
  if (!window_ || ui_terminated_) return;
  window_->CloseMessageBox();
  current_ = total_;
  UpdateProgress();
}

void InstallerUIController::OnInstallationDone(bool success) {
  VLOG(1) << "Installer termination reported";
  if (ui_terminated_) {
    VLOG(2) << "UI already terminated";
    return;
  }
  success_ = success;
  if (success) {
    VLOG(1) << "Installer terminated successfully. Finishing.";
    current_ = total_;
    UpdateProgress();
    TerminateUI();
    return;
  }
  if (!pending_error_) {
    const bool uninstall = settings_->flag(Settings::UNINSTALL_FLAG);
    const char* message = uninstall ? "Unreported uninstaller error." : "Unreported installer error.";
    OnError(uninstall ? kErrorUninstall : kErrorInstall, std::wstring(), message);
    LOG(ERROR) << message;
  }
  // The error page follows: a cancel question still open goes first.
  error_page_pending_ = true;
  if (window_) window_->CloseMessageBox();
  PostToThisThread(base::Bind(&InstallerUIController::HandlePendingError,
                              weak_factory_.GetWeakPtr()),
                   error_delay_);
}

void InstallerUIController::HandlePendingError() {
  LOG(INFO) << "Handling pending error";
  if (ui_terminated_ || !window_) return;
  error_page_pending_ = false;
  installation_started_ = false;
  settings_->set_changeable(true);
  if (!observing_settings_) {
    settings_->AddObserver(this);
    observing_settings_ = true;
  }
  const base::FilePath standard_folder =
      settings_->GetDefaultInstallFolder(Settings::SOURCE_REGISTRY | Settings::SOURCE_STANDARD);
  const bool equal = base::FilePath::CompareIgnoreCase(settings_->install_folder().value(),
                                                      standard_folder.value()) == 0;
  const bool writable = settings_->status().write_access() != 0;
  if (pending_error_ && pending_error_->string_id == kNoAdminRightsString &&
      settings_->operation() == Settings::OPERATION_INSTALL &&
      settings_->flag(Settings::ALL_USERS_FLAG) && (equal || writable)) {
    LOG(INFO) << "Offering the user to switch to a Current User install";
    if (!settings_->SetAllUsers(false)) LOG(WARNING) << "Could not leave the all-users mode";
    if (equal && system_.needs_elevation(settings_->flag(Settings::ALL_USERS_FLAG),
                                         settings_->status().write_access() != 0)) {
      settings_->SetInstallFolder(settings_->GetDefaultInstallFolder(Settings::SOURCE_STANDARD));
    }
    pending_error_.reset();
    OnAccept();
    return;
  }
  // The full installer is offered by the net installer only: an installer that carries
  // the package is the full installer.
  const bool offer_full_package = error_shown_before_ && !without_payload_ && !local_package_ &&
                                  (phase_ < PHASE_COMPONENTS || package_downloaded_);
  error_shown_before_ = true;
  std::unique_ptr<PendingError> error = std::move(pending_error_);
  if (!error) error.reset(new PendingError{ErrorStringId(kErrorInstall, false), L"", ""});
  window_->ShowError(GetLocalizedStringWithArg(static_cast<int>(error->string_id), error->argument),
                     offer_full_package, error->message);
}

void InstallerUIController::OnCancel() {
  // A Yes given to a question the end of the installation closed: the outcome stands.
  if (success_ || error_page_pending_) {
    LOG(WARNING) << "Cancel ignored: the installation has already ended"
                 << (success_ ? " successfully" : " with an error");
    return;
  }
  stats_.root()->SetInteger("installation_cancelled", 1);
  TerminateUI();
}

void InstallerUIController::OnObtainFullPackage() {
  LOG(INFO) << "Obtaining full package";
  std::string address = GetProductUrl("download_full_windows");
  if (GetChannel() != kReleaseChannel) {
    address += base::StringPrintf("&product=%s%%20%s&utm_source=netinstaller",
                                  GetProductName().c_str(), GetChannelName().c_str());
  }
  const std::wstring wide_address = base::UTF8ToWide(address);
  const std::unique_ptr<InstallationInfo> installation =
      CreateInstallationInfoFor(settings_->install_folder());
  bool opened = false;
  if (installation->IsDefaultHandler(L"http", false) ||
      installation->IsDefaultHandler(L"http", true)) {
    VLOG(1) << "Downloading full package with IE";
    opened = system_.open(L"%ProgramFiles%\\Internet Explorer\\iexplore.exe", wide_address);
  } else {
    VLOG(1) << "Downloading full package with default browser";
    opened = system_.open(wide_address, std::wstring());
  }
  if (!opened) LOG(WARNING) << "Could not open the full installer's address";
  stats_.root()->SetInteger("installation_cancelled", 2);
  TerminateUI();
}

void InstallerUIController::TerminateUI() {
  LOG(INFO) << "Terminating the UI";
  if (ui_terminated_) {
    VLOG(2) << "Installer UI already terminated";
    return;
  }
  ui_terminated_ = true;
  if (window_) {
    window_->RemoveDelegate(this);
    // A question still open (closing the window during the installation) asks about a
    // run that has ended: it goes, and the outcome stands.
    window_->CloseMessageBox();
    // The window may be the one telling us (a click), so it goes with the controller.
    ShowWindow(window_->GetHwnd(), SW_HIDE);
    closed_window_ = std::move(window_);
  }
  // The window is gone: a new start may show its own at once. Stopping the backend and
  // deleting the fetcher can take seconds; the folder stays locked meanwhile, and a start
  // that meets it busy says so.
  ui_lock_.Release();
  package_.runner()->Stop();
  package_.DeleteFetcher();
  stats_.root()->SetInteger("installation_success", success_ ? 1 : 0);
  if (success_) stats_.root()->Remove("failure_reason");
  if (settings_->flag(Settings::ENABLE_INSTALLER_STATS) && !settings_->flag(Settings::AUTOUPDATE)) {
    LOG(INFO) << "Sending stats";
    // The loop quits when sending ends, or at once when it cannot start.
    if (!stats_.Send(run_loop_.QuitClosure(), package_downloaded_))
      LOG(ERROR) << "Could not send the statistics";
    return;
  }
  LOG(INFO) << "Not sending stats";
  run_loop_.Quit();
}

void InstallerUIController::PostToThisThread(const base::Closure& task, base::TimeDelta delay) {
  if (!base::CurrentThreadTaskRunner::Get()->PostDelayedTask(FROM_HERE, task, delay))
    LOG(ERROR) << "Could not post an installer UI task";
}

}  // namespace installer
