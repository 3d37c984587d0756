// The process-wide log. Every site builds a LogMessage for its file, line and severity,
// streams text into it, and the destructor emits one line:
//   "[pid:tid:MMDD/HHMMSS.mmm:tick:SEVERITY:file(line)] text"
// (pid, tid and tick are off by default) to the log file, the debugger and standard error.
// Without InitLogging the log is "debug.log" beside the main executable.
//
//   LOG(INFO|WARNING|ERROR|FATAL) << ...;   a FATAL line ends the process
//   VLOG(n) << ...;                         when "v"/"vmodule" enable level n for the file
//   PLOG(ERROR) << ...;                     appends ": " and the thread's last error text
//   CHECK(cond) / CHECK_EQ(a, b) ...;       FATAL unless the condition holds
//   DCHECK(cond) ..., NOTREACHED();         the same in debug builds only
#ifndef BASE_LOGGING_H_
#define BASE_LOGGING_H_

#include <windows.h>

#include <cstdint>
#include <sstream>
#include <string>

namespace base {

typedef int LogSeverity;
const LogSeverity LOG_VERBOSE = -1;
const LogSeverity LOG_INFO = 0;
const LogSeverity LOG_WARNING = 1;
const LogSeverity LOG_ERROR = 2;
const LogSeverity LOG_FATAL = 3;
// <windows.h> defines ERROR as 0, which turns LOG(ERROR) into LOG(0).
const LogSeverity LOG_0 = LOG_ERROR;

// Destination bits.
enum LoggingDestination : uint32_t {
  LOG_NONE = 0,
  LOG_TO_FILE = 1,
  LOG_TO_SYSTEM_DEBUG_LOG = 2,  // the debugger output, and standard error with it
};

enum LogLockingState : uint32_t { LOCK_LOG_FILE = 0, DONT_LOCK_LOG_FILE = 1 };

enum OldFileDeletionState : uint32_t { DELETE_OLD_LOG_FILE = 0, APPEND_TO_OLD_LOG_FILE = 1 };

struct LoggingSettings {
  uint32_t logging_dest = LOG_TO_FILE;
  const wchar_t* log_file = nullptr;  // must be set when logging_dest has LOG_TO_FILE
  uint32_t lock_log = LOCK_LOG_FILE;  // carried for callers, not consulted
  uint32_t delete_old = APPEND_TO_OLD_LOG_FILE;
};

// Reads "v" and "vmodule" from the process command line (at most twice per process),
// sets the destinations and opens the log file. False when no log file could be opened.
[[nodiscard]] bool InitLogging(const LoggingSettings& settings);

// Levels above FATAL are stored as FATAL; negative levels enable verbose levels.
void SetMinLogLevel(int level);
int GetMinLogLevel();

// Whether a line of this severity goes anywhere at all.
bool ShouldLog(LogSeverity severity);

// The verbose level enabled for a source file (|size_with_nul| = sizeof(__FILE__)).
int GetVerboseLevelForFile(const char* file, size_t size_with_nul);

void SetLogPrefixItems(bool process_id, bool thread_id, bool time_stamp, bool tick_count);

// Sees every line first; returning true keeps it from all other destinations.
typedef bool (*LogMessageHandlerFunction)(int severity, const char* file, int line,
                                          size_t message_start, const std::string& text);
void SetLogMessageHandler(LogMessageHandlerFunction handler);

// Closes the log file; the next line opens it again.
void CloseLogFile();

// "debug.log" in the folder of the process's main executable.
std::wstring DefaultLogFilePath();

// The thread's last system error; sites capture it before making further calls.
DWORD GetLastSystemErrorCode();

// The system's text for |error|, whitespace collapsed, followed by " (0xHEX)".
std::string Win32ErrorToString(DWORD error);

// One line under construction; the destructor emits it.
class LogMessage {
 public:
  LogMessage(const char* file, int line, LogSeverity severity);
  ~LogMessage();
  LogMessage(const LogMessage&) = delete;
  LogMessage& operator=(const LogMessage&) = delete;

  std::ostream& stream() { return stream_; }

 private:
  void WritePrefix();

  LogSeverity severity_;
  std::ostringstream stream_;
  size_t message_start_;
  const char* file_;
  int line_;
  DWORD last_error_;
};

// As LogMessage, and appends ": " and the text of a system error code.
class LastErrorLogMessage {
 public:
  LastErrorLogMessage(const char* file, int line, LogSeverity severity, DWORD error);
  ~LastErrorLogMessage();
  LastErrorLogMessage(const LastErrorLogMessage&) = delete;
  LastErrorLogMessage& operator=(const LastErrorLogMessage&) = delete;

  std::ostream& stream() { return message_.stream(); }

 private:
  DWORD error_;
  LogMessage message_;
};

// Turns "stream << x" into a void expression for the ternary in the macros.
class LogMessageVoidify {
 public:
  void operator&(std::ostream&) {}
};

}  // namespace base

// Writes a NUL-terminated wide string as UTF-8; a null pointer writes nothing. Declared
// in std so that argument-dependent lookup finds them inside any namespace.
namespace std {
std::ostream& operator<<(std::ostream& out, const wchar_t* text);
std::ostream& operator<<(std::ostream& out, const std::wstring& text);
}  // namespace std

#define VELUM_LAZY_STREAM(stream, condition) \
  !(condition) ? (void)0 : ::base::LogMessageVoidify() & (stream)

#define LOG_IS_ON(severity) (::base::ShouldLog(::base::LOG_##severity))
#define VLOG_IS_ON(level) \
  (::base::GetVerboseLevelForFile(__FILE__, sizeof(__FILE__)) >= (level))

#define LOG(severity)                                                               \
  VELUM_LAZY_STREAM(::base::LogMessage(__FILE__, __LINE__, ::base::LOG_##severity).stream(), \
                    LOG_IS_ON(severity))
#define LOG_IF(severity, condition) \
  VELUM_LAZY_STREAM(::base::LogMessage(__FILE__, __LINE__, ::base::LOG_##severity).stream(), \
                    LOG_IS_ON(severity) && (condition))
#define VLOG(level)                                                                \
  VELUM_LAZY_STREAM(::base::LogMessage(__FILE__, __LINE__, -(level)).stream(), VLOG_IS_ON(level))
// VLOG(level) with the text of the system error |error| appended, for a code saved
// before later calls could change the thread's last error. |file| is the name the
// site's verbose lines go by for "v" and "vmodule": __FILE__, or the module a file's
// lines are known by when it is not the file's own name.
#define VPLOG_WITH_ERROR(file, level, error)                                               \
  VELUM_LAZY_STREAM(::base::LastErrorLogMessage(file, __LINE__, -(level), (error)).stream(), \
                    ::base::GetVerboseLevelForFile(file, sizeof(file)) >= (level))
#define PLOG(severity)                                                                 \
  VELUM_LAZY_STREAM(::base::LastErrorLogMessage(__FILE__, __LINE__, ::base::LOG_##severity, \
                                                ::base::GetLastSystemErrorCode())         \
                        .stream(),                                                        \
                    LOG_IS_ON(severity))

#define CHECK(condition)                                                                \
  VELUM_LAZY_STREAM(::base::LogMessage(__FILE__, __LINE__, ::base::LOG_FATAL).stream(), \
                    !(condition))                                                       \
      << "Check failed: " #condition ". "
#define CHECK_EQ(a, b) CHECK((a) == (b))
#define CHECK_NE(a, b) CHECK((a) != (b))
#define CHECK_LE(a, b) CHECK((a) <= (b))
#define CHECK_LT(a, b) CHECK((a) < (b))
#define CHECK_GE(a, b) CHECK((a) >= (b))
#define CHECK_GT(a, b) CHECK((a) > (b))

#ifdef NDEBUG
#define DCHECK_IS_ON() 0
#define DCHECK(condition) \
  while (false) CHECK(condition)
#else
#define DCHECK_IS_ON() 1
#define DCHECK(condition) CHECK(condition)
#endif
#define DCHECK_EQ(a, b) DCHECK((a) == (b))
#define DCHECK_NE(a, b) DCHECK((a) != (b))
#define DCHECK_LE(a, b) DCHECK((a) <= (b))
#define DCHECK_LT(a, b) DCHECK((a) < (b))
#define DCHECK_GE(a, b) DCHECK((a) >= (b))
#define DCHECK_GT(a, b) DCHECK((a) > (b))
#define NOTREACHED() DCHECK(false)

#endif  // BASE_LOGGING_H_
