#include "base/win/exception_guard.h"

#include <vector>

#include <gtest/gtest.h>

namespace base {
namespace {

constexpr DWORD kTestCode = 0xE0007E57;

// What each filter saw, in order, and what it answers.
struct FilterLog {
  LONG verdict;
  std::vector<DWORD> codes;
  std::vector<ULONG_PTR> first_arguments;
};

LONG RecordingFilter(EXCEPTION_POINTERS* info, void* context) {
  FilterLog* log = static_cast<FilterLog*>(context);
  log->codes.push_back(info->ExceptionRecord->ExceptionCode);
  log->first_arguments.push_back(info->ExceptionRecord->NumberParameters
                                     ? info->ExceptionRecord->ExceptionInformation[0]
                                     : 0);
  return log->verdict;
}

struct Steps {
  int before = 0;
  int after = 0;
};

void RaiseBetweenSteps(void* context) {
  Steps* steps = static_cast<Steps*>(context);
  ++steps->before;
  const ULONG_PTR argument = 77;
  RaiseException(kTestCode, 0, 1, &argument);
  ++steps->after;
}

TEST(ExceptionGuard, VerdictDecidesWhatHappens) {
  struct Case {
    const char* name;
    LONG verdict;
    bool returned_normally;
    int steps_after;
  } cases[] = {
      {"execute handler ends it at the guard", EXCEPTION_EXECUTE_HANDLER, false, 0},
      {"continue execution resumes after the raise", EXCEPTION_CONTINUE_EXECUTION, true, 1},
  };
  FilterLog unused{EXCEPTION_EXECUTE_HANDLER, {}, {}};
  int calls = 0;
  EXPECT_TRUE(RunWithExceptionGuard([](void* c) { ++*static_cast<int*>(c); }, &calls,
                                    &RecordingFilter, &unused));
  EXPECT_EQ(1, calls);
  EXPECT_TRUE(unused.codes.empty()) << "a normal return leaves the filter uncalled";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FilterLog log{c.verdict, {}, {}};
    Steps steps;
    EXPECT_EQ(c.returned_normally,
              RunWithExceptionGuard(&RaiseBetweenSteps, &steps, &RecordingFilter, &log));
    EXPECT_EQ(1, steps.before);
    EXPECT_EQ(c.steps_after, steps.after);
    EXPECT_EQ(std::vector<DWORD>{kTestCode}, log.codes);
    EXPECT_EQ(std::vector<ULONG_PTR>{77}, log.first_arguments);
  }
}

struct Nested {
  FilterLog* inner_log;
  Steps* steps;
  bool inner_returned = true;
};

void RunInnerGuard(void* context) {
  Nested* nested = static_cast<Nested*>(context);
  nested->inner_returned =
      RunWithExceptionGuard(&RaiseBetweenSteps, nested->steps, &RecordingFilter,
                            nested->inner_log);
}

TEST(ExceptionGuard, ContinueSearchPassesToTheOuterGuard) {
  FilterLog inner{EXCEPTION_CONTINUE_SEARCH, {}, {}};
  FilterLog outer{EXCEPTION_EXECUTE_HANDLER, {}, {}};
  Steps steps;
  Nested nested{&inner, &steps};
  EXPECT_FALSE(RunWithExceptionGuard(&RunInnerGuard, &nested, &RecordingFilter, &outer));
  EXPECT_EQ(std::vector<DWORD>{kTestCode}, inner.codes);
  EXPECT_EQ(std::vector<DWORD>{kTestCode}, outer.codes);
  EXPECT_TRUE(nested.inner_returned) << "the inner guard's call was unwound, not returned";
  EXPECT_EQ(0, steps.after);
}

void WriteToReservedPage(void* address) { *static_cast<volatile int*>(address) = 1; }

TEST(ExceptionGuard, CatchesAHardwareFault) {
  void* reserved = VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_NOACCESS);
  ASSERT_TRUE(reserved);
  struct Fault {
    DWORD code = 0;
    ULONG_PTR address = 0;
  } fault;
  auto filter = [](EXCEPTION_POINTERS* info, void* context) -> LONG {
    Fault* seen = static_cast<Fault*>(context);
    seen->code = info->ExceptionRecord->ExceptionCode;
    seen->address = info->ExceptionRecord->ExceptionInformation[1];
    return EXCEPTION_EXECUTE_HANDLER;
  };
  EXPECT_FALSE(RunWithExceptionGuard(&WriteToReservedPage, reserved, filter, &fault));
  EXPECT_EQ(static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION), fault.code);
  EXPECT_EQ(reinterpret_cast<ULONG_PTR>(reserved), fault.address);
  VirtualFree(reserved, 0, MEM_RELEASE);
}

}  // namespace
}  // namespace base
