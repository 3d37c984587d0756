// Minimal emitter until the full logging facility (prefix items, destinations, verbose
// configuration) replaces it; the log-site interface in logging.h stays as it is.
#include "base/logging.h"

#include <cstdio>
#include <cstdlib>

namespace base {

bool ShouldLog(LogSeverity severity) { return severity >= LOG_INFO; }

int GetVerboseLevelForFile(const char*, size_t) { return 0; }

LogMessage::LogMessage(const char* file, int line, LogSeverity severity)
    : severity_(severity), file_(file), line_(line), last_error_(GetLastError()) {
  static const char* const kNames[] = {"INFO", "WARNING", "ERROR", "FATAL"};
  stream_ << "[";
  if (severity >= 0 && severity <= LOG_FATAL)
    stream_ << kNames[severity];
  else
    stream_ << "VERBOSE" << -severity;
  stream_ << ":" << file_ << "(" << line_ << ")] ";
}

LogMessage::~LogMessage() {
  stream_ << "\n";
  const std::string text = stream_.str();
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
  if (severity_ == LOG_FATAL) TerminateProcess(GetCurrentProcess(), 3);
  SetLastError(last_error_);
}

LastErrorLogMessage::LastErrorLogMessage(const char* file, int line, LogSeverity severity,
                                         DWORD error)
    : error_(error), message_(file, line, severity) {}

LastErrorLogMessage::~LastErrorLogMessage() {
  message_.stream() << ": " << Win32ErrorToString(error_);
}

DWORD GetLastSystemErrorCode() { return GetLastError(); }

std::string Win32ErrorToString(DWORD error) {
  char buffer[256] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                nullptr, error, 0, buffer, sizeof buffer, nullptr);
  while (length > 0 && (buffer[length - 1] == '\n' || buffer[length - 1] == '\r')) --length;
  return std::string(buffer, length) + " (0x" + [error] {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%lX", static_cast<unsigned long>(error));
    return std::string(hex);
  }() + ")";
}

}  // namespace base

std::ostream& operator<<(std::ostream& out, const wchar_t* text) {
  if (!text) return out;
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1) return out;
  std::string utf8(bytes - 1, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &utf8[0], bytes, nullptr, nullptr);
  return out << utf8;
}

std::ostream& operator<<(std::ostream& out, const std::wstring& text) {
  return out << text.c_str();
}
