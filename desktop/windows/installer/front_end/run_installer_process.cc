#include "desktop/windows/installer/front_end/run_installer_process.h"

#include <objbase.h>
#include <shellapi.h>
#include <windows.h>

#include <atomic>
#include <memory>

#include "base/at_exit.h"
#include "base/base_paths.h"
#include "base/bind.h"
#include "base/command_line.h"
#include "base/features/command_line_feature_reader.h"
#include "base/features/feature_registry.h"
#include "base/features/feature_states.h"
#include "base/features/list_feature_reader.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/path_service.h"
#include "base/run_loop.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "base/win/scoped_generic.h"
#include "base/win/windows_version.h"
#include "components/prefs/json_pref_store.h"
#include "crash/reporter/crash_client.h"
#include "crash/reporter/crash_reporter_process.h"
#include "crash/reporter/reporter_self_crash.h"
#include "desktop/common/autoupdate/updatechecker/global_storage.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/common/names/switches.h"
#include "desktop/windows/installer/service/install_folder_files.h"
#include "desktop/windows/installer/settings/feature_flags.h"
#include "desktop/windows/installer/front_end/installer_help.h"
#include "desktop/windows/installer/installer_runner_backend.h"
#include "desktop/windows/installer/installer_temp_folder.h"
#include "desktop/windows/installer/package_fetcher/package_lock.h"
#include "desktop/windows/installer/package_fetcher/full_package_unpacker.h"
#include "desktop/windows/installer/package_fetcher/payload_reader.h"
#include "desktop/windows/installer/service/product_names.h"
#include "desktop/windows/installer/front_end/silent_installer_controller.h"
#include "desktop/windows/installer/front_end/run_installer_names.h"
#include "desktop/windows/installer/service/installation_info.h"
#include "desktop/windows/installer/service/installer_pref_store.h"
#include "desktop/windows/installer/service/tracking_data.h"
#include "desktop/windows/installer/service/interrupted_runs/run_note.h"
#include "desktop/windows/installer/elevated_helper/admin_only_folder.h"
#include "desktop/windows/installer/security/access_control.h"
#include "desktop/windows/installer/elevated_helper/set_folder_permission.h"
#include "desktop/windows/installer/elevated_helper/uninstall_batch_runner.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/ui/custom_message_box.h"
#include "desktop/windows/installer/front_end/installer_ui_controller.h"
#include "desktop/windows/installer/ui/win32_dialog_dispatcher.h"
#include "desktop/windows/rc_l10n_handler/localized_string.h"
#include "desktop/windows/rc_l10n_handler/ui_language.h"

namespace installer {

namespace {

// Global storage keeps a standalone installation's values out of the registry.
bool IsRunningInstallationCopyOnly() {
  return InstallationInfo::GetInstance()->IsCopyOnly();
}

// The mode switches, read once; silent and run immediately may change later.
struct Modes {
  bool backend;
  bool uninstall;
  bool silent;
  bool run_immediately;
  bool autoupdate;
  bool replace_basalt;
};

Modes ReadModes(const base::CommandLine& command_line) {
  Modes modes;
  modes.backend = command_line.HasSwitch(switches::kBackend);
  modes.uninstall = command_line.HasSwitch(switches::kUninstall);
  modes.silent = command_line.HasSwitch(switches::kSilent);
  modes.run_immediately = command_line.HasSwitch(switches::kRunImmediately);
  modes.autoupdate = command_line.HasSwitch(switches::kAutoupdate);
  modes.replace_basalt = command_line.HasSwitch(switches::kReplaceBasaltInstallation);
  return modes;
}

// Whether this process logged an error: an elevated helper's refusals log one, though its
// result stays true, and its log is then kept for a look.
std::atomic<bool> g_error_logged{false};

bool NoteLoggedError(int severity, const char* /*file*/, int /*line*/, size_t /*message_start*/,
                     const std::string& /*text*/) {
  if (severity >= base::LOG_ERROR) g_error_logged = true;
  return false;
}

// `elevated_log_folder`: where an elevated helper logs, null for any other run.
void StartLogging(const base::CommandLine& command_line, AdminOnlyFolder* elevated_log_folder) {
  const base::FilePath log_path = elevated_log_folder
                                      ? InitElevatedInstallerLogging(elevated_log_folder)
                                      : InitInstallerLogging();
  if (log_path.empty()) return;
  base::LoggingSettings logging;
  logging.logging_dest = base::LOG_TO_FILE;
  logging.log_file = log_path.value().c_str();
  logging.delete_old = base::DELETE_OLD_LOG_FILE;
  // Without a log file the run goes on: the log is a diagnosis, not a product.
  (void)base::InitLogging(logging);
  LOG(INFO) << FormatWithProductName("%s installer starting - version ", false) << GetBuildVersion()
            << " " << GetChannelName();
  LOG(INFO) << "Command line: " << command_line.GetCommandLineString();
}

// Whether the running executable sits in an unpacked package (or, for an
// uninstall, in an installation). False in `valid` for an uninstall from
// anywhere else.
bool IsInsidePackage(bool uninstall, const base::FilePath& own_dir, const base::FilePath& own_path,
                     bool* valid) {
  *valid = true;
  const base::FilePath product = own_dir.Append(base::UTF8ToWide(GetExecutableFileName()));
  const bool has_product = base::PathExists(product);
  if (uninstall) {
    // An uninstallation cut short left the executable set aside, its note says so; the
    // next one finishes it.
    if (!has_product && !IsSetAsideByInterruptedRun(own_dir.DirName(), product, false)) {
      LOG(ERROR) << "Requested to uninstall, but we are not in a valid "
                    "installation folder";
      *valid = false;
    }
    return *valid;
  }
  // Case-sensitive: only the package's own copy of the installer is meant.
  return has_product && base::PathExists(own_dir.Append(L"files_list")) &&
         own_path.BaseName().value() == L"installer.exe";
}

base::FilePath GetInstallFolderSwitch(const base::CommandLine& command_line, Modes* modes) {
  base::FilePath folder;
  if (!command_line.HasSwitch(switches::kInstallFolder)) return folder;
  folder = command_line.GetSwitchValuePath(switches::kInstallFolder);
  LOG(INFO) << "Install folder from command line: " << folder.value();
  if (folder.empty() && modes->autoupdate) {
    LOG(INFO) << "It looks like we are autoupdating from Q12.";
    folder = RecoverInstallFolderFromCommandLine(command_line);
    LOG(INFO) << "Recovered install folder from command line: " << folder.value();
    if (!folder.empty() && modes->silent) {
      LOG(INFO) << "Configuring for Q12 autoupdate.";
      modes->silent = false;
      modes->run_immediately = true;
    }
  }
  return folder;
}

void ApplyExperimentStates(const base::CommandLine& command_line, bool uninstall,
                           const base::FilePath& installation_folder) {
  base::FeatureStates* states = base::FeatureRegistry::GetInstance()->GetFeatureStates();
  if (uninstall) {
    VLOG(1) << "Retrieving experiment states from installation folder...";
    base::scoped_refptr<JsonPrefStore> store = CreateInstallerPrefStore(
        GetPrefsTaskPool(), installation_folder.Append(kInstallerPrefsFileName));
    const base::Value* value = nullptr;
    const base::List* list = nullptr;
    if (store->GetValue("installer-experiments", &value) && value->GetAsList(&list)) {
      base::ListFeatureReader reader(*list);
      states->ApplyReader(&reader);
      LOG(INFO) << "Retrieved experiment states from installation folder";
    }
  } else {
    base::CommandLineFeatureReader reader(command_line);
    states->ApplyReader(&reader);
    LOG(INFO) << "Obtained experiment states from command line";
  }
  if (base::IsFeatureEnabled("installer-experiment-test"))
    LOG(INFO) << "Test experiment is enabled";
}

// The box that offers the full installer for download, in the UI language. It runs on
// the run's own message loop, which must pump window messages: a loop made for the box
// alone would collide with it (one per thread). A silent or backend run has no UI loop,
// so there the box cannot be shown rather than hang on a loop that never sees its
// messages.
void ShowCorruptedPayloadBox(const base::CommandLine& command_line) {
  base::MessageLoop* loop = base::MessageLoop::Current();
  if (!loop || !loop->IsType(base::MessageLoop::TYPE_UI)) {
    LOG(ERROR) << "Cannot initialize the message box";
    return;
  }
  base::RunLoop run_loop(Win32DialogDispatcher::GetInstance());
  LANGID language = 0;
  std::wstring code = command_line.GetSwitchValueNative(switches::kLanguage);
  SelectUiLanguage(&language, &code);
  CustomMessageBox box;
  if (!box.Show(nullptr, 37066, GetLocalizedString(37067), 37068, 37069,
                base::Bind(&OpenWebsiteLink, &run_loop))) {
    LOG(ERROR) << "Cannot initialize the message box";
    return;
  }
  run_loop.Run();
}

// Reads the payload of `own_path`; false when it is corrupted (the run ends).
[[nodiscard]] bool ReadPayload(const base::CommandLine& command_line,
                               const base::FilePath& own_path,
                               std::unique_ptr<PayloadReader>* payload,
                               int32_t* architecture) {
  *architecture =
      base::OsInfo::Instance()->architecture() == base::OsInfo::X64_ARCHITECTURE ? 1 : 0;
  payload->reset(new PayloadReader(own_path));
  PayloadReader* reader = payload->get();
  switch (reader->type()) {
    case PayloadReader::PAYLOAD_NONE:
      LOG(WARNING) << "Failed reading payload";
      if (command_line.HasSwitch(switches::kServerTrackingBlob)) {
        LOG(INFO) << "Using tracking data from command line";
        reader->SetExternalTrackingData(
            command_line.GetSwitchValueASCII(switches::kServerTrackingBlob));
      }
      break;
    case PayloadReader::TRACKING_DATA:
      LOG(INFO) << "Tracking data: " << reader->GetTrackingData();
      break;
    case PayloadReader::EXTERNAL_TRACKING_DATA:
      LOG(ERROR) << "External should only ever be reported after calling"
                 << "SetPayload";
      break;
    case PayloadReader::FULL_PACKAGE:
      *architecture = 1;
      LOG(INFO) << "Found full package";
      break;
    default:
      // An error line and false rather than a fatal end: the run's clean-up still
      // runs.
      if (base::IsFeatureEnabled("kestrel-library")) {
        LOG(ERROR) << "Corrupted payload";
      } else {
        ShowCorruptedPayloadBox(command_line);
      }
      return false;
  }
  return true;
}

// The tracking dictionary of the payload, or null when there is none.
std::unique_ptr<base::Dictionary> DecodeTrackingData(const PayloadReader* payload) {
  if (!payload || (payload->type() != PayloadReader::TRACKING_DATA &&
                   payload->type() != PayloadReader::EXTERNAL_TRACKING_DATA)) {
    return nullptr;
  }
  return DecodeBase64JsonDictionary(payload->GetTrackingData());
}

[[nodiscard]] bool ObtainDownloadFolder(const base::CommandLine& command_line,
                                        const base::FilePath& own_path, base::FilePath* folder) {
  const base::FilePath name(GetInstallerFolderName());
  if (command_line.HasSwitch(switches::kTempFolder)) {
    VLOG(1) << "Using download folder from command line";
    *folder = command_line.GetSwitchValuePath(switches::kTempFolder).Append(name);
    if (!base::DirectoryExists(*folder) && !base::CreateDirectory(*folder)) {
      LOG(ERROR) << "Could not create temporary installer folder";
      return false;
    }
  } else if (!ObtainInstallerTempFolder(name, own_path, folder)) {
    LOG(ERROR) << "Could not obtain temporary installer folder";
    return false;
  }
  LOG(INFO) << "Installer download folder: " << folder->value();
  return true;
}

void LogModes(const Modes& modes, bool inside_package) {
  LOG(INFO) << "Uninstall: " << modes.uninstall;
  LOG(INFO) << "Replace Basalt installation: " << modes.replace_basalt;
  LOG(INFO) << "Silent: " << modes.silent;
  LOG(INFO) << "Run Immediately " << modes.run_immediately;
  LOG(INFO) << "Backend " << modes.backend;
  LOG(INFO) << "Inside package " << inside_package;
  LOG(INFO) << "Autoupdate: " << modes.autoupdate;
}

// The settings take the niuid and medium from their command line, so the tracking
// data's values reach them there, unless the run is copy-only.
base::CommandLine BuildSettingsCommandLine(const base::CommandLine& command_line,
                                           const base::Dictionary* tracking) {
  base::CommandLine settings_command_line(command_line);
  const bool copy_only_switch =
      command_line.HasSwitch(switches::kCopyOnly) &&
      Settings::ReadBooleanValue(command_line.GetSwitchValueNative(switches::kCopyOnly));
  if (tracking && !copy_only_switch) {
    std::string value;
    if (tracking->GetStringASCII("uuid", &value))
      settings_command_line.AppendSwitchASCII(switches::kNiuid, value);
    if (tracking->GetStringASCII("utm.medium", &value))
      settings_command_line.AppendSwitchASCII(switches::kMedium, value);
  }
  return settings_command_line;
}

// The front end's part of a run: the silent or the wizard controller, with the run's
// download folder.
[[nodiscard]] bool RunFrontEnd(const base::CommandLine& command_line,
                               const base::FilePath& own_path, const base::Dictionary* tracking,
                               Modes* modes, Settings* settings, PayloadReader* payload) {
  base::FilePath download_folder;
  if (!ObtainDownloadFolder(command_line, own_path, &download_folder)) return false;
  // An installing run does this when it makes its own package folder.
  if (modes->uninstall) RemoveDeadPackages(download_folder);

  if (tracking && !settings->flag(Settings::COPY_ONLY))
    ApplyTrackingData(*tracking, settings, &modes->run_immediately);

  bool result = false;
  if (modes->silent) {
    VLOG(2) << "Running silent controller";
    SilentInstallerController controller;
    result = controller.Run(settings, payload, download_folder);
  } else {
    LOG(INFO) << "Running UI controller";
    InstallerUIController controller;
    result = controller.RunUI(settings, payload, download_folder, modes->run_immediately);
  }

  // Only an empty folder goes: leftovers are kept for a look.
  (void)RemoveDirectoryW(download_folder.value().c_str());
  return result;
}

// The installer proper: everything after the log is set up.
[[nodiscard]] bool RunInstallation(const base::CommandLine& command_line,
                                   const base::FilePath& installation_folder) {
  Modes modes = ReadModes(command_line);

  base::FilePath own_dir;
  base::FilePath own_path;
  if (!base::PathRegistry::Get(base::DIR_EXE, &own_dir)) {
    LOG(ERROR) << "Cannot find own dir";
    return false;
  }
  if (!base::PathRegistry::Get(base::FILE_EXE, &own_path)) {
    LOG(ERROR) << "Cannot find own file path";
    return false;
  }
  bool valid = true;
  const bool inside_package = IsInsidePackage(modes.uninstall, own_dir, own_path, &valid);
  if (!valid) return false;

  const base::FilePath install_folder = GetInstallFolderSwitch(command_line, &modes);

  LogModes(modes, inside_package);

  CHECK(!base::MessageLoop::Current()) << "The main thread has a message loop already";
  const bool default_loop = modes.backend || modes.silent;
  VLOG(1) << (default_loop ? "Using default message loop" : "Using UI message loop");
  base::MessageLoop message_loop(default_loop ? base::MessageLoop::TYPE_DEFAULT
                                              : base::MessageLoop::TYPE_UI);

  // Made now, so its exit callback (which waits for pending writes) is on this
  // run's stack.
  (void)GetPrefsTaskPool();
  ApplyExperimentStates(command_line, modes.uninstall, installation_folder);

  std::unique_ptr<PayloadReader> payload;
  int32_t architecture = 1;
  if (!inside_package && !ReadPayload(command_line, own_path, &payload, &architecture))
    return false;
  if (!base::IsFeatureEnabled("installer-support-x64-download")) architecture = 0;
  VLOG(1) << "Installer architecture: " << (architecture == 1 ? "X64" : "X86");

  std::unique_ptr<base::Dictionary> tracking = DecodeTrackingData(payload.get());
  base::CommandLine settings_command_line = BuildSettingsCommandLine(command_line, tracking.get());
  VLOG(2) << "Instantiating settings";
  std::unique_ptr<Settings> settings(new Settings(
      modes.uninstall, modes.silent, modes.autoupdate, install_folder, modes.replace_basalt,
      architecture, &settings_command_line, GetDefaultSettingsPlatform()));

  // As the user's packages go with any uninstallation, killed elevated runs' folders too.
  if (modes.uninstall && IsUserAdmin(false)) RemoveEndedAdminOnlyFolders();
  if (command_line.HasSwitch(switches::kRegisterAsProtocolHandler) || modes.backend) {
    VLOG(2) << "Running backend";
    InstallerRunnerBackend backend;
    FullPackageUnpacker unpacker;
    backend.installer()->SetPackageUnpacker(&unpacker);
    return backend.RunInstallerBackend(settings.get());
  }

  return RunFrontEnd(command_line, own_path, tracking.get(), &modes, settings.get(),
                     payload.get());
}

// Every role after the informational switches, with COM and the exit callbacks
// set up.
[[nodiscard]] bool RunRole(const base::CommandLine& command_line) {
  if (command_line.HasSwitch(switches::kCrashReporterParentId)) {
    // The crash-reporter process; always a success, whatever it did.
    crash_reporter::InstallReporterExceptionFilter();
    if (command_line.HasSwitch(switches::kCrashReporterExceptionInfo))
      crash_reporter::ReportOwnCrash();
    else
      (void)crash_reporter::CrashReporterMain();
    return true;
  }

  crash_reporter::DisableExceptionSwallowing();
  if (crash_reporter::StartCrashReporter()) crash_reporter::ConnectCrashReporter();
  crash_reporter::SetCrashKeys();
  RegisterInstallerFlags(base::FeatureRegistry::GetInstance()->GetFeatureStates());
  const base::FilePath installation_folder = InstallationInfo::GetInstance()->GetInstallFolder();
  GlobalStorage::SetCopyOnlyQuery(&IsRunningInstallationCopyOnly);

  if (command_line.HasSwitch(switches::kHelp) || command_line.HasSwitch(switches::kHelpShort)) {
    PrintHelp();
    return true;
  }
  if (command_line.HasSwitch(switches::kSetFolderPermission)) {
    // A helper that acts says in a log of its own what it refused and why; the log goes
    // once it succeeded.
    AdminOnlyFolder log_folder;
    if (command_line.HasSwitch(switches::kPermissionsForUser)) {
      StartLogging(command_line, &log_folder);
      base::SetLogMessageHandler(&NoteLoggedError);
    }
    base::FilePath granted_folder;
    bool result = RunSetFolderPermission(command_line, &granted_folder);
    if (command_line.HasSwitch(switches::kRunUninstallBat))
      result = RunUninstallBat(installation_folder, granted_folder) && result;
    if (!result || g_error_logged) {
      log_folder.Keep();
    } else if (!log_folder.path().empty()) {
      base::CloseLogFile();
    }
    return result;
  }

  StartLogging(command_line, nullptr);
  return RunInstallation(command_line, installation_folder);
}

}  // namespace

bool RunInstallerProcess() {
  // Before anything else reads a switch.
  base::CommandLine::Init();
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  // Answered before anything is set up: a parent reading the value gets nothing
  // else.
  if (PrintInformationalSwitch(command_line)) return true;

  base::ExitCallbackStack exit_callbacks;
  const base::ScopedComInitializer com(COINIT_APARTMENTTHREADED);
  return RunRole(command_line);
}

void OpenWebsiteLink(base::RunLoop* run_loop, int result) {
  if (result == 1 || result == 3) {
    const std::wstring url = base::UTF8ToWide(GetProductUrl("homepage"));
    (void)ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  }
  run_loop->QuitWhenIdle();
}

void ApplyTrackingData(const base::Dictionary& tracking, Settings* settings,
                       bool* run_immediately) {
  std::string default_browser;
  std::string statistics;
  // Both or neither: one without the other is no choice the user made.
  if (tracking.GetStringASCII("utm.defbr", &default_browser) &&
      tracking.GetStringASCII("utm.fsce", &statistics)) {
    *run_immediately = true;
    LOG(INFO) << "defbr:" << default_browser;
    (void)settings->SetFlag(Settings::DEFAULT_BROWSER, default_browser == "true");
    LOG(INFO) << "fsce:" << statistics;
    (void)settings->SetFlag(Settings::ENABLE_VELUM_STATS, statistics == "true");
  }
  std::string value;
  if (tracking.GetStringASCII("uuid", &value)) LOG(INFO) << "niuid:" << value;
  if (tracking.GetStringASCII("utm.medium", &value)) LOG(INFO) << "utm_medium:" << value;
}

}  // namespace installer
