#include "base/test/scoped_command_line_test_util.h"

namespace base {

namespace {

const CommandLine& InitializedCommandLine() {
  CommandLine::Init();
  return *CommandLine::ForCurrentProcess();
}

}  // namespace

ScopedCommandLine::ScopedCommandLine() : saved_(InitializedCommandLine()) {}

ScopedCommandLine::~ScopedCommandLine() { *CommandLine::ForCurrentProcess() = saved_; }

}  // namespace base
