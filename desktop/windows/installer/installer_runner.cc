#include "desktop/windows/installer/installer_runner.h"

#include <memory>
#include <utility>
#include <vector>

#include "base/at_exit.h"
#include "base/base_paths.h"
#include "base/bind.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/process_launch_lock.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/thread_task_runner_handle.h"
#include "crash/reporter/crash_client.h"
#include "desktop/common/names/kernel_object_names.h"
#include "desktop/common/names/switches.h"
#include "desktop/windows/installer/service/install_folder_files.h"
#include "desktop/windows/installer/steps/installation_context.h"
#include "desktop/windows/installer/steps/installer_system.h"
#include "desktop/windows/installer/ipc/installer_message.h"
#include "desktop/windows/installer/ipc/mailslot.h"
#include "desktop/windows/installer/ipc/mailslot_writer.h"
#include "desktop/windows/installer/private_kernel_object.h"
#include "desktop/windows/installer/service/kernel_object_name.h"
#include "desktop/windows/installer/service/path_spelling.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/elevated_helper/cleanup_batch.h"

namespace installer {

namespace {

// How long the front end waits for its backend to end, rollback included, before it
// ends itself anyway.
const int kBackendEndLimitSeconds = 60;

// How long the reports of a process handed over to are still read after the backend
// ended without all of them: twice what its writer may take to drain.
const int kHandOverReportWaitMs = 2 * MailslotWriter::kDrainTimeMs;

// The name of the switch an argument of a command line stands for, or empty.
std::string SwitchNameOf(const std::wstring& argument) {
  size_t start = 0;
  while (start < argument.size() && start < 2 && argument[start] == L'-') ++start;
  if (start == 0 && !argument.empty() && argument[0] == L'/') start = 1;
  if (start == 0) return std::string();
  size_t end = argument.find(L'=', start);
  return base::WideToUTF8(argument.substr(start, end == std::wstring::npos ? end : end - start));
}

const char kHandOverFailed[] =
    "The installer process it was handed to ended without reporting success";

void StartCleanupBatchAtExit(void* argument) {
  const std::unique_ptr<base::FilePath> batch_file(static_cast<base::FilePath*>(argument));
  LOG(INFO) << "Starting final cleanup batch file.";
  if (!RunningInstallerSystem().start_cleanup_batch(*batch_file).ok())
    LOG(WARNING) << "Could not start " << batch_file->AsUTF8();
}

}  // namespace

// Hands each decoded IPC message to every observer of the runner, counting what decides
// the outcome. A process that hands the installation over announces it and, once the
// other process has ended, its return; the other process reports its own success before
// it ends, and the handing one claims success after the return, judging the other by its
// exit code alone (a killed one exits with 0 under Wine). Nothing orders the two
// processes' messages in the mailslot: a success is only told once every process that
// can still report has reported one, so a claim never stands for a success nobody
// reported, and one that comes late is still counted.
class InstallerRunner::ObserverFanOut : public InstallerObserver {
 public:
  explicit ObserverFanOut(InstallerRunner* runner)
      : runner_(runner), observers_(&runner->observers_) {}
  void OnStarted() override { observers_->Notify(&InstallerObserver::OnStarted); }
  void OnStartingNewMainProcess(bool value) override {
    ++runner_->hand_overs_;
    ++runner_->open_hand_overs_;
    observers_->Notify(&InstallerObserver::OnStartingNewMainProcess, value);
  }
  void OnReturnedToPreviousMainProcess() override {
    // One without an announced hand-over closes nothing.
    if (runner_->open_hand_overs_ > 0) {
      --runner_->open_hand_overs_;
      runner_->hand_over_returned_ = true;
    }
    observers_->Notify(&InstallerObserver::OnReturnedToPreviousMainProcess);
  }
  void OnTotalSteps(int32_t total) override {
    observers_->Notify(&InstallerObserver::OnTotalSteps, total);
  }
  void OnStep() override { observers_->Notify(&InstallerObserver::OnStep); }
  void OnImportantEvent(const std::string& name) override {
    observers_->Notify(&InstallerObserver::OnImportantEvent, name);
  }
  void OnError(uint32_t code, const std::wstring& argument, const std::string& message) override {
    runner_->error_reported_ = true;
    observers_->Notify(&InstallerObserver::OnError, code, argument, message);
  }
  void OnSuccess() override {
    if (runner_->decided_) {
      LOG(WARNING) << "Ignoring a success reported after the run was decided";
      return;
    }
    ++runner_->successes_;
    ++runner_->held_successes_;
    if (!runner_->EveryProcessReported()) {
      VLOG(1) << "A success held back until every installer process has reported";
      return;
    }
    for (; runner_->held_successes_ > 0; --runner_->held_successes_)
      observers_->Notify(&InstallerObserver::OnSuccess);
    if (runner_->awaiting_reports_) runner_->Decide();
  }
  void OnInstallationDone(bool success) override {
    observers_->Notify(&InstallerObserver::OnInstallationDone, success);
  }

 private:
  InstallerRunner* runner_;
  base::ObserverList<InstallerObserver>* observers_;
};

InstallerRunner::InstallerRunner(const base::FilePath& package_folder,
                                 const base::FilePath& assistant_folder,
                                 OwnHandleDuplicator duplicate_own_handle)
    : receiver_(this),
      duplicate_own_handle_(duplicate_own_handle),
      assistant_folder_(assistant_folder),
      package_folder_(package_folder),
      weak_factory_(this) {}

InstallerRunner::~InstallerRunner() {
  Stop();
  if (backend_.IsValid()) {
    backend_watcher_.StopWatching();
    WaitForBackendEnd();
  }
  TakeLeftCleanupBatch();
  package_ready_event_.Close();
  interrupted_event_.Close();
  weak_factory_.InvalidateWeakPtrs();
}

// static
base::CommandLine InstallerRunner::BuildBackendCommandLine(
    const base::CommandLine& settings_form, const base::CommandLine::SwitchMap& replacements) {
  base::CommandLine::StringVector argv(1, std::wstring());
  for (size_t i = 1; i < settings_form.argv().size(); ++i) {
    const std::wstring& argument = settings_form.argv()[i];
    if (replacements.count(SwitchNameOf(argument)) == 0) argv.push_back(argument);
  }
  base::CommandLine result(argv);
  for (const auto& replacement : replacements)
    result.AppendSwitchNative(replacement.first, replacement.second);
  return result;
}

// static
std::string InstallerRunner::FormatHandleSwitch(HANDLE handle) {
  const uint64_t value = reinterpret_cast<uintptr_t>(handle);
  uint8_t bytes[8];
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
  return base::HexEncode(bytes, sizeof(bytes));
}

// static
base::ScopedHandle InstallerRunner::DuplicateOwnHandle() {
  HANDLE own = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &own,
                       SYNCHRONIZE, TRUE, 0)) {
    return base::ScopedHandle();
  }
  return base::ScopedHandle(own);
}

bool InstallerRunner::Fail(uint32_t code, const std::string& message,
                           const std::string& detail) {
  observers_.Notify(&InstallerObserver::OnError, code, std::wstring(), message);
  // Error lines are what a console shows: a refusal says why there.
  LOG(ERROR) << message << (detail.empty() ? std::string() : " (" + detail + ")");
  return false;
}

bool InstallerRunner::Start(Settings* settings) {
  if (started_) {
    // One runner runs one installation.
    LOG(ERROR) << "Duplicate installation attempt detected";
    return false;
  }
  LOG(INFO) << "Beginning installation";
  if (settings->operation() == Settings::OPERATION_INVALID)
    return Fail(INSTALLER_ERROR_INVALID_OPERATION,
                "Attempting to start installation with invalid settings",
                "Invalid install folder: " + settings->invalid_reason());
  started_ = true;
  // The request is final: a Status fetched later must not change it.
  settings->set_changeable(false);
  settings_ = settings;
  // Kernel object names are text: every spelling of one folder must name the same ones,
  // and the backend, which names its own from the folder it is given, must get this one.
  folder_ = SpellAsListed(settings->status().path());
  const base::FilePath& folder = folder_;
  VLOG(1) << "Install folder as listed: " << folder.AsUTF8();
  if (!AcquireInstallerMutex(folder)) return false;

  const std::wstring mailslot_name = GetInstallerMailslotName(folder);
  VLOG(1) << "Installer mailslot name: " << base::WideToUTF8(mailslot_name);
  if (!receiver_.Connect(mailslot_name)) return Fail(INSTALLER_ERROR_GENERAL, "Could not connect to mailslot");

  base::CommandLine::SwitchMap replacements;
  replacements[switches::kServerTrackingData] = kTrackingDataFileName;
  replacements[switches::kInitialPid] = std::to_wstring(GetCurrentProcessId());
  replacements[switches::kCrashReporterPid] =
      std::to_wstring(crash_reporter::GetCrashReporterProcessId());

  const std::wstring interrupted_name = GetKernelObjectName(
      folder.value(), kernel_objects::kInstallationInterruptedEventPrefix, true);
  VLOG(1) << "Event name for interrupted installation: " << base::WideToUTF8(interrupted_name);
  // Elevated helpers trust these two: made by nobody else first, for nobody else.
  if (!CreatePrivateEvent(interrupted_name, true, &interrupted_event_))
    return Fail(INSTALLER_ERROR_GENERAL, "Could not create installation interruption event");

  if (settings->operation() == Settings::OPERATION_UNINSTALL) {
    const std::wstring left_name = GetKernelObjectName(
        folder.value(), kernel_objects::kCleanupBatchLeftEventPrefix, true);
    // Without it the backend starts the batch itself.
    if (!CreatePrivateEvent(left_name, true, &cleanup_left_event_))
      LOG(WARNING) << "Could not create the clean-up batch event";
    cleanup_batch_ = folder.Append(kCleanupBatchFileName);
  }

  base::FilePath program;
  if (!ChooseBackendProgram(folder, &program, &replacements)) return false;
  if (!assistant_folder_.empty())
    replacements[switches::kComponents] = L"suite:" + assistant_folder_.BaseName().value();

  if (!LaunchBackend(program, std::move(replacements))) return false;

  backend_running_ = true;
  AllowSetForegroundWindow(backend_.Pid());
  VLOG(2) << "Installer backend started.";
  if (!backend_watcher_.StartWatching(backend_.Handle(), this)) {
    const char kMessage[] = "Could not monitor the installer process handle";
    observers_.Notify(&InstallerObserver::OnError, static_cast<uint32_t>(INSTALLER_ERROR_GENERAL),
                      std::wstring(), std::string(kMessage));
    Stop();
    LOG(ERROR) << kMessage;
    return false;
  }
  return true;
}

bool InstallerRunner::ChooseBackendProgram(const base::FilePath& folder, base::FilePath* program,
                                           base::CommandLine::SwitchMap* replacements) {
  // A package unpacked from a full-package installer is handed over by this program
  // even when it is there already: an elevated run then takes it out of that installer
  // again, never from the folder a standard user can change.
  if (have_package_ && !from_full_package_) {
    VLOG(1) << "Package is already available";
    // An uninstalling backend takes its folder from its own path: spelt so, it names its
    // objects as this process does.
    *program = SpellAsListed(package_folder_.Append(L"installer.exe"));
    return true;
  }
  const std::wstring ready_name =
      GetKernelObjectName(folder.value(), kernel_objects::kPackageReadyEventPrefix, true);
  VLOG(1) << "Event name for package_ready: " << base::WideToUTF8(ready_name);
  if (!CreatePrivateEvent(ready_name, true, &package_ready_event_))
    return Fail(INSTALLER_ERROR_GENERAL, "Could not create package ready event");
  if (have_package_ && !SetEvent(package_ready_event_.Get()))
    return Fail(INSTALLER_ERROR_GENERAL, "Could not set the package ready event");
  if (!base::PathRegistry::Get(base::FILE_EXE, program))
    return Fail(INSTALLER_ERROR_GENERAL, "Could not launch installer backend process");
  *program = SpellAsListed(*program);
  (*replacements)[switches::kWaitForPackage] = package_folder_.value();
  return true;
}

bool InstallerRunner::AcquireInstallerMutex(const base::FilePath& folder) {
  const std::wstring mutex_name =
      GetKernelObjectName(folder.value(), kernel_objects::kInstallFolderMutexBase, true);
  VLOG(1) << "Installer mutex name: " << base::WideToUTF8(mutex_name);
  if (!CreateOrJoinPrivateMutex(mutex_name, true, &mutex_)) return Fail(INSTALLER_ERROR_CREATE_MUTEX, "Could not create installer mutex");
  const DWORD wait = WaitForSingleObject(mutex_.Get(), 0);
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
    mutex_.Close();
    return Fail(INSTALLER_ERROR_MUTEX_HELD, "Could not acquire installer mutex");
  }
  return true;
}

bool InstallerRunner::LaunchBackend(const base::FilePath& program,
                                    base::CommandLine::SwitchMap replacements) {
  bool duplicated = false;
  {
    base::AutoLock launch_lock(base::GetProcessLaunchLock());
    // Made under the lock: no other launch may inherit it.
    const base::ScopedHandle own = duplicate_own_handle_();
    duplicated = own.IsValid();
    if (duplicated) {
      replacements[switches::kInitialProcHandle] = base::UTF8ToWide(FormatHandleSwitch(own.Get()));
      const base::CommandLine settings_form = settings_->ToCommandLine(false);
      if (settings_form.HasSwitch(switches::kInstallFolder))
        replacements[switches::kInstallFolder] = folder_.value();
      base::CommandLine command_line = BuildBackendCommandLine(settings_form, replacements);
      command_line.SetProgram(program);
      base::LaunchOptions options;
      options.inherit_handles = true;
      LOG(INFO) << "launching installer backend: "
                << base::WideToUTF8(command_line.GetCommandLineString());
      backend_ = base::LaunchProcess(command_line, options);
    }
  }
  // Observers are told with the lock released: they may launch or stop in turn.
  if (!duplicated) return Fail(INSTALLER_ERROR_GENERAL, "Could not duplicate own process handle");
  if (!backend_.IsValid())
    return Fail(INSTALLER_ERROR_GENERAL, "Could not launch installer backend process");
  return true;
}

void InstallerRunner::OnPackageReady() {
  if (have_package_) return;
  VLOG(2) << "Recording that we have the package";
  have_package_ = true;
  if (backend_running_) {
    LOG(INFO) << "Informing the installer backend that the package is ready";
    SetEvent(package_ready_event_.Get());
  }
}

void InstallerRunner::Stop() {
  LOG(INFO) << "Stopping installer backend (if running)";
  if (backend_running_ && interrupted_event_.IsValid()) {
    VLOG(1) << "Sending installation interrupted event";
    SetEvent(interrupted_event_.Get());
  }
  if (mutex_.IsValid()) {
    VLOG(1) << "Letting go of the installer mutex";
    // A running backend keeps the folder locked until this thread ends.
    if (!backend_running_) ReleaseMutex(mutex_.Get());
    mutex_.Close();
  }
  package_ready_event_.Close();
  interrupted_event_.Close();
  receiver_.Close();
  settings_ = nullptr;
}

void InstallerRunner::WaitForBackendEnd() {
  // A failed or interrupted backend rolls back after it has reported: a front end that
  // ended first would let another installer start on a half-restored machine.
  if (!backend_running_) return;
  LOG(INFO) << "Waiting for the installer backend to end";
  int32_t exit_code = 0;
  if (!backend_.WaitForExitWithTimeout(base::TimeDelta::FromSeconds(kBackendEndLimitSeconds), &exit_code))
    LOG(ERROR) << "The installer backend did not end in time";
}

void InstallerRunner::OnObjectSignaled(HANDLE) {
  VLOG(1) << "Installer backend process signaled";
  DWORD exit_code = 1;
  if (!GetExitCodeProcess(backend_.Handle(), &exit_code)) exit_code = 1;
  // The backend's last reports may still wait in the mailslot; they come first.
  receiver_.Flush(
      base::Bind(&InstallerRunner::NotifyDone, weak_factory_.GetWeakPtr(), exit_code));
}

void InstallerRunner::TakeLeftCleanupBatch() {
  if (cleanup_left_event_.IsValid() &&
      WaitForSingleObject(cleanup_left_event_.Get(), 0) == WAIT_OBJECT_0) {
    // The batch deletes this process's own program: started as late as can be, at the
    // exit, it finds every process it waits for ended or ending.
    base::ExitCallbackStack::Register(&StartCleanupBatchAtExit,
                                      new base::FilePath(cleanup_batch_));
  }
  cleanup_left_event_.Close();
}

void InstallerRunner::NotifyDone(DWORD exit_code) {
  backend_running_ = false;
  backend_exited_with_zero_ = exit_code == 0;
  backend_exit_code_ = exit_code;
  TakeLeftCleanupBatch();
  if (backend_exited_with_zero_ && !error_reported_ && hand_overs_ > 0 && !EveryProcessReported()) {
    // A process it handed to may have reported before it ended and still be read after
    // the backend's end: its writer drains for a while after its last report.
    awaiting_reports_ = true;
    LOG(INFO) << "Waiting up to " << kHandOverReportWaitMs
              << " ms for the reports of the installer processes it handed over to";
    if (base::CurrentThreadTaskRunner::Get()->PostDelayedTask(
            FROM_HERE, base::Bind(&InstallerRunner::Decide, weak_factory_.GetWeakPtr()),
            base::TimeDelta::FromMilliseconds(kHandOverReportWaitMs))) {
      return;
    }
  }
  Decide();
}

bool InstallerRunner::EveryProcessReported() const {
  return successes_ >= hand_overs_ + 1 - open_hand_overs_;
}

void InstallerRunner::Decide() {
  if (decided_) return;
  decided_ = true;
  awaiting_reports_ = false;
  const bool reported = EveryProcessReported();
  const bool success = backend_exited_with_zero_ && reported && !error_reported_;
  if (!success && held_successes_ > 0)
    LOG(WARNING) << "Ignoring " << held_successes_ << " success report(s) of a failed run";
  // A failure says why on the console (error lines), unless an error report did.
  if (!success && !error_reported_) {
    if (!backend_exited_with_zero_) {
      LOG(ERROR) << (successes_ > 0 ? "Installer backend ended with exit code "
                                    : "Installer backend ended without reporting success, "
                                      "with exit code ")
                 << backend_exit_code_ << (successes_ > 0 ? " after a success was reported" : "");
    } else if (!hand_over_returned_) {
      // Ended from outside (TerminateProcess with 0, or under Wine any kill): only one
      // that reported its success has installed.
      LOG(ERROR) << "Installer backend ended without reporting success";
    } else {
      LOG(ERROR) << kHandOverFailed;
      observers_.Notify(&InstallerObserver::OnError,
                        static_cast<uint32_t>(INSTALLER_ERROR_GENERAL), std::wstring(),
                        std::string(kHandOverFailed));
    }
  }
  observers_.Notify(&InstallerObserver::OnInstallationDone, success);
}

void InstallerRunner::OnMessageReceived(const base::SerialBuffer& message) {
  ObserverFanOut fan_out(this);
  (void)DispatchInstallerMessage(message, &fan_out);  // a malformed one is logged and dropped
}

}  // namespace installer
