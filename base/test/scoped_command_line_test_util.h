// ScopedCommandLine: a test changes the process command line freely and gets the one it
// had back when the scope ends.
//
//   ScopedCommandLine scoped;
//   scoped.Get()->AppendSwitchASCII("internal-package-server", url);
#ifndef BASE_TEST_SCOPED_COMMAND_LINE_TEST_UTIL_H_
#define BASE_TEST_SCOPED_COMMAND_LINE_TEST_UTIL_H_

#include "base/command_line.h"

namespace base {

class ScopedCommandLine {
 public:
  ScopedCommandLine();
  ~ScopedCommandLine();
  ScopedCommandLine(const ScopedCommandLine&) = delete;
  ScopedCommandLine& operator=(const ScopedCommandLine&) = delete;

  CommandLine* Get() { return CommandLine::ForCurrentProcess(); }

 private:
  CommandLine saved_;
};

}  // namespace base

#endif  // BASE_TEST_SCOPED_COMMAND_LINE_TEST_UTIL_H_
