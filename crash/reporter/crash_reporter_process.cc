#include "crash/reporter/crash_reporter_process.h"

#include <windows.h>
#include <sddl.h>
#include <stdio.h>

#include <memory>
#include <utility>

#include "base/command_line.h"
#include "base/environment.h"
#include "base/files/file_util.h"
#include "base/json/json_file_value_serializer.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/base_paths_win.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/synchronization/lock.h"
#include "base/values.h"
#include "base/win/scoped_generic.h"
#include "base/win/scoped_handle.h"
#include "base/win/windows_version.h"
#include "crash/reporter/crash_client_values.h"
#include "crash/reporter/crash_generation_server.h"
#include "crash/reporter/crash_key_map.h"
#include "crash/reporter/crash_stats_store.h"
#include "crash/reporter/crash_upload.h"
#include "crash/reporter/dump_client.h"
#include "crash/reporter/leftover_dumps.h"
#include "crash/reporter/minidump_file_writer.h"
#include "crash/reporter/parent_process_watcher.h"
#include "crash/reporter/pending_work_counter.h"
#include "crash/reporter/reporter_self_crash.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/common/names/switches.h"

namespace crash_reporter {

namespace {

constexpr char kConsentPath[] = "user_experience_metrics.reporting_enabled";
constexpr wchar_t kCrashStatsFileName[] = L"crash_stats.json";
// Low mandatory integrity label, no write-up: low-integrity clients may connect.
constexpr wchar_t kPipeSddl[] = L"S:(ML;;NW;;;S-1-16-4096)";
constexpr size_t kLogPathLength = 261;

volatile LONG g_dump_sequence = 0;

// dbghelp is single-threaded: dumps of clients crashing at once are written in turn.
base::Lock& GetDumpLock() {
  static base::Lock* const lock = new base::Lock;
  return *lock;
}

void InitReporterLogging() {
  wchar_t temp[kLogPathLength];
  const DWORD length = GetTempPathW(kLogPathLength, temp);
  const std::wstring log_file =
      (length && length < kLogPathLength ? std::wstring(temp, length) : std::wstring()) +
      base::UTF8ToWide(base::ToLowerASCII(installer::GetProductName())) +
      L"_crashreporter.log";
  base::LoggingSettings settings;
  settings.lock_log = base::LOCK_LOG_FILE;
  settings.delete_old = base::APPEND_TO_OLD_LOG_FILE;
  if (length && length < kLogPathLength && log_file.size() < kLogPathLength) {
    settings.logging_dest = base::LOG_TO_FILE;
    settings.log_file = log_file.c_str();
  } else {
    settings.logging_dest = base::LOG_TO_SYSTEM_DEBUG_LOG;
  }
  if (!base::InitLogging(settings)) {
    // Without a log file the reporter still works; its lines go to the debugger.
    settings.logging_dest = base::LOG_TO_SYSTEM_DEBUG_LOG;
    settings.log_file = nullptr;
    (void)base::InitLogging(settings);
  }
  base::SetLogPrefixItems(true, true, true, true);
  base::SetMinLogLevel(base::LOG_INFO);
}

// The low-integrity descriptor of the pipe, from Vista on; null where it cannot be made.
class PipeSecurity {
 public:
  PipeSecurity() {
    if (base::GetWindowsVersion() < base::OS_VERSION_VISTA) return;
    PSECURITY_DESCRIPTOR raw_descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kPipeSddl, SDDL_REVISION_1,
                                                              &raw_descriptor, nullptr)) {
      return;
    }
    descriptor_.Reset(raw_descriptor);
    BOOL present = FALSE, defaulted = FALSE;
    ACL* sacl = nullptr;
    if (!GetSecurityDescriptorSacl(descriptor_.Get(), &present, &sacl, &defaulted) ||
        !present || !sacl) {
      return;
    }
    attributes_.nLength = sizeof(attributes_);
    attributes_.lpSecurityDescriptor = descriptor_.Get();
    attributes_.bInheritHandle = FALSE;
    has_attributes_ = true;
  }
  PipeSecurity(const PipeSecurity&) = delete;
  PipeSecurity& operator=(const PipeSecurity&) = delete;

  SECURITY_ATTRIBUTES* attributes() { return has_attributes_ ? &attributes_ : nullptr; }

 private:
  base::ScopedLocalAlloc<> descriptor_;
  SECURITY_ATTRIBUTES attributes_ = {};
  bool has_attributes_ = false;
};

// A leftover dump's crash keys died with its reporter: it goes with the build's own.
[[nodiscard]] bool QueueLeftoverUpload(const std::wstring& path) {
  UploadKeys keys;
  AddClientCrashKeys(nullptr, CrashKeyMap(), &keys);
  return QueueUpload(std::move(keys), path, true);
}

void OnDumpRequest(void* context, const ClientInfo* client, const std::wstring*) {
  OnClientDumpRequested(static_cast<ReporterContext*>(context), client);
}

}  // namespace

int CrashReporterMain() {
  return internal::RunCrashReporter(*base::CommandLine::ForCurrentProcess());
}

void OnClientDumpRequested(ReporterContext* context, const ClientInfo* client) {
  PendingWorkCounter* counter = GetPendingWorkCounter();
  counter->AddRef();
  const CustomClientInfo info = client->custom_info();
  const CrashKeyMap custom_info = BuildCrashKeyMap(info.entries, info.count);
  const std::wstring process_type = custom_info.Get(L"ptype");
  if (!process_type.empty()) context->stats->Increment(base::WideToUTF8(process_type), 1, true);

  // Relative to the dump folder, the reporter's current directory.
  const std::wstring dump_path = base::UTF8ToWide(MakeCrashLogName(NextDumpSequence()));
  bool written = false;
  {
    base::AutoLock lock(GetDumpLock());
    const ProcessDumpClient dump_client(client->process_handle());
    written = WriteClientMinidump(dump_client, client->process_id(), client->thread_id_address(),
                                  client->exception_pointers_address(),
                                  client->assertion_info_address(), dump_path,
                                  kClientDumpSizeLimit, context->keep_logs, context->pauses);
  }
  if (written) {
    UploadKeys keys;
    AddClientCrashKeys(client->process_handle(), custom_info, &keys);
    if (!QueueUpload(std::move(keys), dump_path, !context->keep_logs))
      LOG(ERROR) << "Crash dump " << dump_path << " not uploaded";
  } else {
    LOG(ERROR) << "Cannot write the dump of process " << client->process_id();
  }
  counter->Release();
}

std::string MakeCrashLogName(uint32_t sequence) {
  char name[MAX_PATH];
  const int length = snprintf(name, sizeof(name), "%s-crashlog-%lu-%lu%s",
                              base::ToLowerASCII(installer::GetProductName()).c_str(),
                              GetCurrentProcessId(), static_cast<unsigned long>(sequence),
                              ".dmp");
  if (length < 0 || static_cast<size_t>(length) >= sizeof(name)) return std::string();
  return std::string(name, static_cast<size_t>(length));
}

uint32_t NextDumpSequence() {
  return static_cast<uint32_t>(InterlockedIncrement(&g_dump_sequence));
}

bool ReadReportingConsent(const base::FilePath& path) {
  bool consent = true;
  if (path.empty()) return consent;
  base::JsonFileReader reader(path, 0);
  std::unique_ptr<base::Value> root = reader.Deserialize(nullptr, nullptr);
  const base::Dictionary* dictionary = nullptr;
  if (root && root->GetAsDictionary(&dictionary)) {
    bool enabled = true;
    if (dictionary->GetBoolean(kConsentPath, &enabled)) consent = enabled;
  }
  return consent;
}

bool GetReporterParentId(const base::CommandLine& command_line, uint32_t* parent_id) {
  return base::StringToUint(command_line.GetSwitchValueNative(switches::kCrashReporterParentId),
                            parent_id);
}

bool InitReporterPaths(const base::CommandLine& command_line, ReporterPaths* paths) {
  const base::FilePath user_data = command_line.GetSwitchValuePath(switches::kUserDataDir);
  if (!user_data.empty() && !base::PathRegistry::Override(base::DIR_USER_DATA, user_data,
                                                          false, true)) {
    LOG(WARNING) << "Cannot use the user data folder " << user_data.value();
  }

  const std::string log_dir = GetCrashLogDirOverride();
  paths->dump_folder.clear();
  if (!log_dir.empty()) {
    const base::FilePath folder = base::FilePath::FromUTF8(log_dir);
    if (base::CreateDirectory(folder)) paths->dump_folder = folder;
  }
  if (paths->dump_folder.empty() && !base::GetTempDir(&paths->dump_folder)) return false;

  // Without a user data folder the counts stay beside the dumps.
  if (!base::PathRegistry::Get(base::FILE_CRASH_STATS, &paths->stats_file))
    paths->stats_file = paths->dump_folder.Append(kCrashStatsFileName);
  if (!base::PathRegistry::Get(base::FILE_LOCAL_STATE, &paths->preferences_file))
    paths->preferences_file.clear();
  return true;
}

namespace internal {

int RunCrashReporter(const base::CommandLine& command_line, DumpWritePauses* pauses) {
  LaunchExceptionReporter();
  uint32_t parent_id = 0;
  if (!GetReporterParentId(command_line, &parent_id)) return -1;
  InitReporterLogging();
  ReporterPaths paths;
  if (!InitReporterPaths(command_line, &paths)) return -1;
  if (!ReadReportingConsent(paths.preferences_file)) return -1;
  GetCrashServerUrl();

  PendingWorkCounter* counter = GetPendingWorkCounter();
  if (!counter->Initialize()) return -1;
  ParentProcessWatcher watcher(counter);
  if (!watcher.Start(parent_id)) return -1;

  base::ScopedHandle init_event(OpenEventW(
      EVENT_MODIFY_STATE, FALSE, GetCrashReporterInitEventName(parent_id).c_str()));
  if (!init_event.IsValid()) return -1;
  const std::wstring pipe_name = GetCrashPipeName(GetCurrentProcessId());
  if (pipe_name.empty()) return -1;
  if (!SetCurrentDirectoryW(paths.dump_folder.value().c_str())) return -1;
  PipeSecurity security;

  std::unique_ptr<CrashStatsStore> stats(new CrashStatsStore(paths.stats_file));
  ReporterContext context = {stats.get(), GetKeepLogs(false), pauses};
  CrashGenerationServer server(pipe_name, security.attributes(), nullptr, nullptr,
                               &OnDumpRequest, &context, nullptr, nullptr, nullptr, nullptr,
                               false, std::wstring());
  if (!server.Start()) return -1;

  if (!SetEvent(init_event.Get())) PLOG(WARNING) << "Cannot signal the parent";
  init_event.Set(nullptr);
  // Kept logs keep every dump, leftovers too.
  if (!context.keep_logs) HandleLeftoverDumps(paths.dump_folder, &QueueLeftoverUpload);

  // Set once the parent has gone and no dump or upload is outstanding.
  if (!counter->Wait()) PLOG(ERROR) << "Waiting for the reporter's work failed";
  server.Stop();
  stats.reset();
  watcher.Stop();
  return 0;
}

}  // namespace internal

}  // namespace crash_reporter
