// Keeps every log line (from verbose up, without its prefix and line end) while it lives,
// instead of writing it anywhere else.
//
//   base::ScopedLogLines log;
//   ... code that logs ...
//   EXPECT_TRUE(log.Has("Installation was interrupted"));
#ifndef BASE_TEST_SCOPED_LOG_LINES_TEST_UTIL_H_
#define BASE_TEST_SCOPED_LOG_LINES_TEST_UTIL_H_

#include <stddef.h>

#include <string>
#include <vector>

#include "base/logging.h"

namespace base {

class ScopedLogLines {
 public:
  ScopedLogLines() : saved_level_(GetMinLogLevel()) {
    current() = this;
    SetMinLogLevel(-1);
    SetLogMessageHandler(&Keep);
  }
  ~ScopedLogLines() {
    SetLogMessageHandler(nullptr);
    SetMinLogLevel(saved_level_);
    current() = nullptr;
  }
  ScopedLogLines(const ScopedLogLines&) = delete;
  ScopedLogLines& operator=(const ScopedLogLines&) = delete;

  bool Has(const std::string& line) const {
    for (const std::string& kept : lines)
      if (kept == line) return true;
    return false;
  }

  std::vector<std::string> lines;

 private:
  static ScopedLogLines*& current() {
    static ScopedLogLines* instance = nullptr;
    return instance;
  }
  static bool Keep(int, const char*, int, size_t start, const std::string& text) {
    std::string line = text.substr(start);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    current()->lines.push_back(line);
    return true;
  }

  const int saved_level_;
};

}  // namespace base

#endif  // BASE_TEST_SCOPED_LOG_LINES_TEST_UTIL_H_
