#include "base/logging.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "base/command_line.h"
#include "base/debug/activity_tracker.h"
#include "base/debug/alias.h"
#include "base/strings/string_util.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_generic.h"
#include "base/synchronization/lock.h"
#include "base/verbose_log_config.h"

namespace base {
namespace {

const char* const kSeverityNames[] = {"INFO", "WARNING", "ERROR", "FATAL"};
const wchar_t kDefaultLogFileName[] = L"debug.log";
constexpr size_t kFatalTextKeptForDumps = 1024;

// Plain globals written during start-up, before other threads log.
int g_min_log_level = LOG_INFO;
uint32_t g_logging_destination = LOG_TO_FILE;
bool g_log_process_id = false;
bool g_log_thread_id = false;
bool g_log_timestamp = true;
bool g_log_tickcount = false;
LogMessageHandlerFunction g_log_message_handler = nullptr;

// The configuration a new one replaces stays alive: another thread may still read it.
std::atomic<VerboseLogConfig*> g_verbose_config{nullptr};
VerboseLogConfig* g_previous_verbose_config = nullptr;

// The log file is a raw handle: the handle verifier logs, so logging cannot rest on it.
// Lines are written without a lock; opening takes one so that two first lines from two
// threads neither race on the path nor open the file twice.
std::atomic<HANDLE> g_log_file{nullptr};
std::wstring* g_log_file_name = nullptr;
Lock g_log_file_lock;

HANDLE OpenForAppend(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

// The caller holds g_log_file_lock.
[[nodiscard]] bool OpenLogFileLocked() {
  if (g_log_file.load()) return true;
  if (!g_log_file_name) g_log_file_name = new std::wstring(DefaultLogFilePath());
  if (!(g_logging_destination & LOG_TO_FILE)) return true;
  HANDLE file = OpenForAppend(*g_log_file_name);
  if (!file) {
    wchar_t directory[MAX_PATH];
    const DWORD length = GetCurrentDirectoryW(MAX_PATH, directory);
    if (length == 0 || length > MAX_PATH) return false;
    *g_log_file_name = std::wstring(directory, length);
    if (g_log_file_name->back() != L'\\') g_log_file_name->push_back(L'\\');
    g_log_file_name->append(kDefaultLogFileName);
    file = OpenForAppend(*g_log_file_name);
    if (!file) return false;
  }
  g_log_file.store(file);
  return true;
}

[[nodiscard]] bool OpenLogFile() {
  if (g_log_file.load()) return true;
  AutoLock lock(g_log_file_lock);
  return OpenLogFileLocked();
}

// The caller holds g_log_file_lock.
void CloseLogFileLocked() {
  ScopedUnverifiedHandle file(g_log_file.exchange(nullptr));
}

void InitVerboseConfigFromCommandLine() {
  const CommandLine* command_line = CommandLine::ForCurrentProcess();
  if (!command_line || (!command_line->HasSwitch("v") && !command_line->HasSwitch("vmodule")))
    return;
  CHECK(!g_previous_verbose_config) << "verbose logging configured more than twice";
  g_previous_verbose_config = g_verbose_config.load();
  g_verbose_config.store(new VerboseLogConfig(command_line->GetSwitchValueASCII("v"),
                                              command_line->GetSwitchValueASCII("vmodule"),
                                              &g_min_log_level));
}

}  // namespace

bool InitLogging(const LoggingSettings& settings) {
  InitVerboseConfigFromCommandLine();
  g_logging_destination = settings.logging_dest;
  if (!(g_logging_destination & LOG_TO_FILE)) return true;

  AutoLock lock(g_log_file_lock);
  CloseLogFileLocked();
  if (!g_log_file_name) g_log_file_name = new std::wstring;
  *g_log_file_name = settings.log_file ? settings.log_file : L"";
  if (settings.delete_old == DELETE_OLD_LOG_FILE) DeleteFileW(g_log_file_name->c_str());
  return OpenLogFileLocked();
}

void CloseLogFile() {
  AutoLock lock(g_log_file_lock);
  CloseLogFileLocked();
}

void SetMinLogLevel(int level) { g_min_log_level = level < LOG_FATAL ? level : LOG_FATAL; }

int GetMinLogLevel() { return g_min_log_level; }

bool ShouldLog(LogSeverity severity) {
  return severity >= g_min_log_level &&
         (g_logging_destination != LOG_NONE || g_log_message_handler || severity >= LOG_ERROR);
}

int GetVerboseLevelForFile(const char* file, size_t size_with_nul) {
  const VerboseLogConfig* config = g_verbose_config.load(std::memory_order_acquire);
  if (!config) return -g_min_log_level > -1 ? -g_min_log_level : -1;
  return config->GetVerboseLevel(file, size_with_nul);
}

void SetLogPrefixItems(bool process_id, bool thread_id, bool time_stamp, bool tick_count) {
  g_log_process_id = process_id;
  g_log_thread_id = thread_id;
  g_log_timestamp = time_stamp;
  g_log_tickcount = tick_count;
}

void SetLogMessageHandler(LogMessageHandlerFunction handler) { g_log_message_handler = handler; }

std::wstring DefaultLogFilePath() {
  wchar_t module_path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, module_path, MAX_PATH);
  std::wstring path(module_path, length < MAX_PATH ? length : MAX_PATH - 1);
  const size_t slash = path.rfind(L'\\');
  path.erase(slash == std::wstring::npos ? 0 : slash + 1);
  return path + kDefaultLogFileName;
}

DWORD GetLastSystemErrorCode() { return GetLastError(); }

std::string Win32ErrorToString(DWORD error) {
  char text[256];
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     error, 0, text, sizeof text, nullptr);
  if (!length) {
    return StringPrintf("Error (0x%lX) while retrieving error. (0x%lX)", GetLastError(),
                        error);
  }
  return CollapseWhitespace(std::string(text, length)) + StringPrintf(" (0x%lX)", error);
}

LogMessage::LogMessage(const char* file, int line, LogSeverity severity)
    : severity_(severity), file_(file), line_(line), last_error_(GetLastError()) {
  WritePrefix();
}

void LogMessage::WritePrefix() {
  stream_ << '[';
  if (g_log_process_id) stream_ << GetCurrentProcessId() << ':';
  if (g_log_thread_id) stream_ << GetCurrentThreadId() << ':';
  if (g_log_timestamp) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char stamp[24];
    std::snprintf(stamp, sizeof stamp, "%02u%02u/%02u%02u%02u.%03u:", now.wMonth, now.wDay,
                  now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    stream_ << stamp;
  }
  if (g_log_tickcount) stream_ << GetTickCount() << ':';
  if (severity_ < 0)
    stream_ << "VERBOSE" << -severity_;
  else if (severity_ <= LOG_FATAL)
    stream_ << kSeverityNames[severity_];
  else
    stream_ << "UNKNOWN";
  const char* base_name = file_;
  for (const char* p = file_; *p; ++p) {
    if (*p == '/' || *p == '\\') base_name = p + 1;
  }
  stream_ << ':' << base_name << '(' << line_ << ")] ";
  message_start_ = static_cast<size_t>(stream_.tellp());
}

LogMessage::~LogMessage() {
  stream_ << '\n';
  const std::string text = stream_.str();

  const bool handled = g_log_message_handler &&
                       g_log_message_handler(severity_, file_, line_, message_start_, text);
  if (!handled) {
    if (g_logging_destination & LOG_TO_SYSTEM_DEBUG_LOG) OutputDebugStringA(text.c_str());
    if ((g_logging_destination & LOG_TO_SYSTEM_DEBUG_LOG) || severity_ >= LOG_ERROR) {
      std::fwrite(text.data(), 1, text.size(), stderr);
      std::fflush(stderr);
    }
    if ((g_logging_destination & LOG_TO_FILE) && OpenLogFile()) {
      DWORD written = 0;
      WriteFile(g_log_file.load(), text.data(), static_cast<DWORD>(text.size()), &written,
                nullptr);
    }
  }

  if (severity_ == LOG_FATAL) {
    if (debug::GlobalActivityTracker* tracker = debug::GlobalActivityTracker::Get())
      tracker->RecordLogMessage(text);
    // The line stays in this frame for a crash dump.
    char text_for_dump[kFatalTextKeptForDumps] = {};
    std::memcpy(text_for_dump, text.data(),
                text.size() < sizeof text_for_dump ? text.size() : sizeof text_for_dump - 1);
    debug::AliasForCrashDump(text_for_dump);
    __debugbreak();
    // A debugger that continues past the breakpoint must not let the process run on.
    TerminateProcess(GetCurrentProcess(), EXCEPTION_BREAKPOINT);
  }
  SetLastError(last_error_);
}

LastErrorLogMessage::LastErrorLogMessage(const char* file, int line, LogSeverity severity,
                                         DWORD error)
    : error_(error), message_(file, line, severity) {}

LastErrorLogMessage::~LastErrorLogMessage() {
  message_.stream() << ": " << Win32ErrorToString(error_);
}

}  // namespace base

namespace std {

std::ostream& operator<<(std::ostream& out, const wchar_t* text) {
  if (!text) return out;
  return out << base::WideToUTF8(text);
}

std::ostream& operator<<(std::ostream& out, const std::wstring& text) {
  return out << base::WideToUTF8(text);
}

}  // namespace std
