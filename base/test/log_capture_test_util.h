// Keeps the log lines of a test's code instead of writing them anywhere, verbose ones
// included, until destroyed. One at a time per process; lines of every thread count.
//
//   base::ScopedLogCapture log;
//   DoWork();
//   EXPECT_TRUE(log.Has("Could not set the day interval of the scheduled task"));
#ifndef BASE_TEST_LOG_CAPTURE_TEST_UTIL_H_
#define BASE_TEST_LOG_CAPTURE_TEST_UTIL_H_

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "base/synchronization/lock.h"

namespace base {

class ScopedLogCapture {
 public:
  ScopedLogCapture();
  ~ScopedLogCapture();
  ScopedLogCapture(const ScopedLogCapture&) = delete;
  ScopedLogCapture& operator=(const ScopedLogCapture&) = delete;

  // The message of every line so far (without its prefix and line break), in order.
  std::vector<std::string> lines() const;
  // Those of the lines that begin with `start`.
  std::vector<std::string> LinesStartingWith(const std::string& start) const;
  bool Has(const std::string& line) const;
  // Sets |event| once a line beginning with |start| is kept (at once if one was), so that
  // a test can wait for a line another thread logs. The event must outlive the capture.
  void SetEventOnLineStartingWith(const std::string& start, HANDLE event);

 private:
  static bool Keep(int severity, const char* file, int line, size_t start,
                   const std::string& text);

  mutable Lock lock_;
  std::vector<std::string> lines_;
  std::vector<std::pair<std::string, HANDLE>> line_events_;
  int saved_level_;
};

}  // namespace base

#endif  // BASE_TEST_LOG_CAPTURE_TEST_UTIL_H_
