// Log sites: LOG(INFO|WARNING|ERROR|FATAL) << ..., VLOG(n), PLOG(sev) (appends the last
// system error), CHECK/DCHECK and NOTREACHED. A FATAL line ends the process.
#ifndef BASE_LOGGING_H_
#define BASE_LOGGING_H_

#include <windows.h>

#include <sstream>
#include <string>

namespace base {

typedef int LogSeverity;
const LogSeverity LOG_VERBOSE = -1;
const LogSeverity LOG_INFO = 0;
const LogSeverity LOG_WARNING = 1;
const LogSeverity LOG_ERROR = 2;
const LogSeverity LOG_FATAL = 3;

bool ShouldLog(LogSeverity severity);
int GetVerboseLevelForFile(const char* file, size_t size_with_nul);

// One line under construction; the destructor emits it.
class LogMessage {
 public:
  LogMessage(const char* file, int line, LogSeverity severity);
  ~LogMessage();
  LogMessage(const LogMessage&) = delete;
  LogMessage& operator=(const LogMessage&) = delete;

  std::ostream& stream() { return stream_; }

 private:
  LogSeverity severity_;
  std::ostringstream stream_;
  const char* file_;
  int line_;
  DWORD last_error_;
};

// As LogMessage, and appends ": " and the text of a system error code.
class LastErrorLogMessage {
 public:
  LastErrorLogMessage(const char* file, int line, LogSeverity severity, DWORD error);
  ~LastErrorLogMessage();
  std::ostream& stream() { return message_.stream(); }

 private:
  DWORD error_;
  LogMessage message_;
};

DWORD GetLastSystemErrorCode();
std::string Win32ErrorToString(DWORD error);

// Turns "stream << x" into a void expression for the ternary in the macros.
class LogMessageVoidify {
 public:
  void operator&(std::ostream&) {}
};

}  // namespace base

// Writes a NUL-terminated wide string as UTF-8; a null pointer writes nothing.
std::ostream& operator<<(std::ostream& out, const wchar_t* text);
std::ostream& operator<<(std::ostream& out, const std::wstring& text);

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
