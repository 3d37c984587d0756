#include "desktop/windows/installer/installer_runner_backend.h"

#include <vector>

#include "base/command_line.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/common/names/kernel_object_names.h"
#include "desktop/common/names/switches.h"
#include "desktop/windows/installer/ipc/installer_message.h"
#include "desktop/windows/installer/ipc/mailslot.h"
#include "desktop/windows/installer/service/kernel_object_name.h"
#include "desktop/windows/installer/settings/settings.h"

namespace installer {

InstallerRunnerBackend::InstallerRunnerBackend() = default;

InstallerRunnerBackend::~InstallerRunnerBackend() {
  if (front_end_.IsValid()) {
    front_end_watcher_.StopWatching();
    front_end_.Close();
  }
  // The installer goes first (an unfinished run is rolled back), then the sender
  // writes what is still queued.
}

// static
bool InstallerRunnerBackend::ParseInitialProcessHandle(const std::string& value,
                                                       HANDLE* handle) {
  std::vector<uint8_t> bytes;
  if (!base::HexStringToBytes(value, &bytes) || (bytes.size() != 8 && bytes.size() != 4))
    return false;
  uint64_t number = 0;
  for (size_t i = 0; i < bytes.size(); ++i) number |= static_cast<uint64_t>(bytes[i]) << (8 * i);
  if (bytes.size() == 4)
    number = static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(number)));
  *handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(number));
  return true;
}

bool InstallerRunnerBackend::OpenFrontEnd(bool* watch) {
  const base::CommandLine* command_line = base::CommandLine::ForCurrentProcess();
  *watch = true;
  if (command_line->HasSwitch(switches::kInitialProcHandle)) {
    const std::string value = command_line->GetSwitchValueASCII(switches::kInitialProcHandle);
    VLOG(1) << "Using initial process handle " << value;
    HANDLE handle = nullptr;
    if (!ParseInitialProcessHandle(value, &handle)) {
      LOG(ERROR) << "Failed parsing initial process handle";
      return false;
    }
    front_end_.Set(handle);
    return true;
  }
  if (command_line->HasSwitch(switches::kInitialPid)) {
    const std::string value = command_line->GetSwitchValueASCII(switches::kInitialPid);
    VLOG(1) << "Using initial pid " << value;
    unsigned pid = 0;
    if (!base::StringToUint(value, &pid)) {
      LOG(ERROR) << "Failed parsing initial pid";
      return false;
    }
    front_end_.Set(OpenProcess(SYNCHRONIZE, FALSE, pid));
    if (!front_end_.IsValid()) {
      LOG(ERROR) << "Failed opening initial process";
      return false;
    }
    return true;
  }
  if (command_line->HasSwitch(switches::kRegisterAsProtocolHandler)) {
    *watch = false;
    return true;
  }
  LOG(ERROR) << "Missing information about initial process";
  return false;
}

bool InstallerRunnerBackend::RunInstallerBackend(Settings* settings) {
  settings_ = settings;
  bool watch = false;
  if (!OpenFrontEnd(&watch)) return false;
  if (watch && !front_end_watcher_.StartWatching(front_end_.Get(), this)) {
    LOG(ERROR) << "Failed watching initial process";
    return false;
  }
  installer_.AddObserver(this);
  if (settings_->fetching_status()) {
    VLOG(1) << "Waiting for settings to be ready";
    settings_->AddObserver(this);
  } else {
    VLOG(1) << "Settings already obtained. Running.";
    StartInstallation();
  }
  run_loop_.Run();
  LOG(INFO) << "Installer backend exiting";
  installer_.RemoveObserver(this);
  settings_->RemoveObserver(this);
  return installer_.succeeded();
}

void InstallerRunnerBackend::OnPathChanged() {
  // A fetch started by a later change would notify again; only the first one counts.
  if (settings_->fetching_status()) return;
  VLOG(1) << "Settings obtained. Running.";
  settings_->RemoveObserver(this);
  StartInstallation();
}

void InstallerRunnerBackend::StartInstallation() {
  VLOG(2) << "Starting installation";
  const base::FilePath& folder = settings_->status().path();
  // The front end reads the run's last reports until it ends or interrupts the run.
  front_end_stopped_.Set(OpenEventW(
      SYNCHRONIZE, FALSE,
      GetKernelObjectName(folder.value(), kernel_objects::kInstallationInterruptedEventPrefix, true)
          .c_str()));
  // A sender without a thread drops its messages; the installation runs regardless.
  (void)sender_.Connect(GetInstallerMailslotName(folder),  // logged there
                        {front_end_.Get(), front_end_stopped_.Get()});
  installer_.BeginInstallation(settings_);
}

void InstallerRunnerBackend::Send(std::unique_ptr<base::SerialBuffer> message) {
  // A refused message is logged by the sender; the run goes on without it.
  (void)sender_.Send(std::move(message));
}

void InstallerRunnerBackend::OnStarted() {
  Send(CreateInstallerMessage(IPC_MESSAGE_STARTED));
}

void InstallerRunnerBackend::OnStartingNewMainProcess(bool value) {
  VLOG(1) << "Sending IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS(" << value << ")";
  Send(CreateStartingNewMainProcessMessage(value));
}

void InstallerRunnerBackend::OnReturnedToPreviousMainProcess() {
  VLOG(1) << "Sending IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS";
  Send(CreateInstallerMessage(IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS));
}

void InstallerRunnerBackend::OnTotalSteps(int32_t total) {
  VLOG(1) << "Sending IPC_MESSAGE_TOTAL_STEPS(" << total << ")";
  Send(CreateTotalStepsMessage(total));
}

void InstallerRunnerBackend::OnStep() {
  VLOG(1) << "Sending IPC_MESSAGE_STEP";
  Send(CreateInstallerMessage(IPC_MESSAGE_STEP));
}

void InstallerRunnerBackend::OnImportantEvent(const std::string& name) {
  // Every important event, whatever its name, goes by this line.
  VLOG(1) << "Sending IPC_FILE_COPY_RETRY";
  Send(CreateImportantEventMessage(name));
}

void InstallerRunnerBackend::OnError(uint32_t code, const std::wstring& argument,
                                     const std::string& message) {
  VLOG(1) << "Sending IPC_MESSAGE_ERROR(" << code << "," << base::WideToUTF8(argument) << ","
          << message << ")";
  Send(CreateErrorMessage(code, argument, message));
  run_loop_.Quit();
}

void InstallerRunnerBackend::OnSuccess() {
  VLOG(1) << "Sending IPC_MESSAGE_SUCCESS";
  Send(CreateInstallerMessage(IPC_MESSAGE_SUCCESS));
  run_loop_.Quit();
}

void InstallerRunnerBackend::OnInstallationDone(bool success) {
  VLOG(1) << "Installation is done: " << success;
  run_loop_.Quit();
}

void InstallerRunnerBackend::OnObjectSignaled(HANDLE) {
  VLOG(1) << "Installer UI process ended";
  run_loop_.Quit();
}

}  // namespace installer
