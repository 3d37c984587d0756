#include "crash/reporter/crash_exception_handler.h"

#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/scratch_dir_test_util.h"
#include "base/strings/string_number_conversions.h"
#include "base/test/test_helper_process.h"
#include "base/win/exception_guard.h"
#include "crash/reporter/crash_reporter_test_util.h"

namespace crash_reporter {
namespace {

constexpr DWORD kTestCode = 0xE0000023;

void Raise(void*) { RaiseException(kTestCode, 0, 0, nullptr); }

LONG WriteFromFilter(EXCEPTION_POINTERS* info, void* handler) {
  EXPECT_TRUE(static_cast<CrashExceptionHandler*>(handler)->WriteMinidump(info));
  return EXCEPTION_EXECUTE_HANDLER;
}

struct DumpOutcome {
  std::wstring dump_id;
  bool succeeded = false;
  int calls = 0;
};

bool RecordOutcome(const wchar_t*, const wchar_t* dump_id, void* context, EXCEPTION_POINTERS*,
                   const AssertionInfo*, bool succeeded) {
  DumpOutcome* outcome = static_cast<DumpOutcome*>(context);
  outcome->dump_id = dump_id;
  outcome->succeeded = succeeded;
  ++outcome->calls;
  return succeeded;
}

using CrashExceptionHandlerTest = base::ScratchDirTest;

TEST_F(CrashExceptionHandlerTest, RefusedRegistrationFallsBackToAnInProcessMinidump) {
  TestReporter reporter("zero-id", Path(L"report.txt"));
  ASSERT_NE(0u, reporter.pid());
  DumpOutcome outcome;
  CrashExceptionHandler handler(scratch_.path().value(), nullptr, &RecordOutcome, &outcome,
                                CrashExceptionHandler::kHandlerNone, 0,
                                GetCrashPipeName(reporter.pid()), nullptr);
  ASSERT_FALSE(handler.IsOutOfProcess());
  const std::wstring first_id = handler.next_dump_id();
  EXPECT_EQ(36u, first_id.size());
  EXPECT_NE(L"00000000-0000-0000-0000-000000000000", first_id);

  EXPECT_FALSE(base::RunWithExceptionGuard(&Raise, nullptr, &WriteFromFilter, &handler));
  EXPECT_EQ(1, outcome.calls);
  EXPECT_TRUE(outcome.succeeded);
  EXPECT_EQ(first_id, outcome.dump_id);
  EXPECT_NE(first_id, handler.next_dump_id());  // the next dump gets a name of its own

  const std::vector<base::FilePath> dumps = FindDumps(scratch_.path());
  ASSERT_EQ(1u, dumps.size());
  EXPECT_EQ(first_id + L".dmp", dumps[0].BaseName().value());
  MinidumpFacts facts = ReadMinidump(dumps[0]);
  ASSERT_TRUE(facts.valid);
  ASSERT_TRUE(facts.has_exception);
  EXPECT_EQ(GetCurrentThreadId(), facts.exception_thread_id);
  EXPECT_EQ(kTestCode, facts.exception_code);
  ASSERT_EQ(sizeof(CrashInfoStream), facts.streams[kCrashInfoStreamType].size());
  CrashInfoStream info;
  memcpy(&info, facts.streams[kCrashInfoStreamType].data(), sizeof(info));
  EXPECT_EQ(3u, info.validity);
  EXPECT_EQ(GetCurrentThreadId(), info.requesting_thread_id);
  EXPECT_NE(GetCurrentThreadId(), info.dump_thread_id);  // written by the handler thread
  EXPECT_EQ(0u, facts.streams.count(kAssertionInfoStreamType));
  // Not a range for each function's unwind record.
  EXPECT_LT(facts.memory_ranges, OwnFunctionCount() / 10);
}

// The handler-stack tests install process handlers: they keep the test main's filter
// aside and put it back.
std::vector<std::string>* g_log = nullptr;

LONG WINAPI BaseFilter(EXCEPTION_POINTERS*) {
  g_log->push_back("base");
  return EXCEPTION_CONTINUE_SEARCH;
}

LPTOP_LEVEL_EXCEPTION_FILTER CurrentFilter() {
  LPTOP_LEVEL_EXCEPTION_FILTER current = SetUnhandledExceptionFilter(nullptr);
  SetUnhandledExceptionFilter(current);
  return current;
}

// Logs the handler's name and whether the filter installed before the stack is back in
// place, then vetoes the dump.
bool LogAndVeto(void* context, EXCEPTION_POINTERS*, const AssertionInfo*) {
  g_log->push_back(static_cast<const char*>(context) +
                   std::string(CurrentFilter() == &BaseFilter ? "+base" : ""));
  return false;
}

class HandlerStackTest : public base::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    g_log = &log_;
    saved_ = SetUnhandledExceptionFilter(&BaseFilter);
  }
  void TearDown() override {
    SetUnhandledExceptionFilter(saved_);
    g_log = nullptr;
  }

  LONG Deliver(DWORD code) {
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = code;
    CONTEXT context = {};
    EXCEPTION_POINTERS pointers = {&record, &context};
    return CrashExceptionHandler::HandleException(&pointers);
  }

  std::vector<std::string> log_;
  LPTOP_LEVEL_EXCEPTION_FILTER saved_ = nullptr;
};

TEST_F(HandlerStackTest, NewestHandlerFirstThenTheOnesBeforeIt) {
  char outer_name[] = "outer";
  char inner_name[] = "inner";
  {
    CrashExceptionHandler outer(scratch_.path().value(), &LogAndVeto, nullptr, outer_name,
                                CrashExceptionHandler::kHandlerException, 0, L"", nullptr);
    CrashExceptionHandler inner(scratch_.path().value(), &LogAndVeto, nullptr, inner_name,
                                CrashExceptionHandler::kHandlerException, 0, L"", nullptr);
    EXPECT_EQ(&CrashExceptionHandler::HandleException, CurrentFilter());
    EXPECT_EQ(EXCEPTION_CONTINUE_SEARCH, Deliver(kTestCode));
    // The inner handler's veto hands the exception to the one below it, then to the filter
    // from before the stack; meanwhile the stack's own filter stays installed, so that a
    // crash on another thread waits for this one instead of bypassing the handlers.
    EXPECT_EQ((std::vector<std::string>{"inner", "outer", "base"}), log_);
    EXPECT_EQ(&CrashExceptionHandler::HandleException, CurrentFilter());
  }
  EXPECT_EQ(&BaseFilter, CurrentFilter());
  EXPECT_TRUE(FindDumps(scratch_.path()).empty());
}

// The filter from before the handlers, crashing once more while it runs: that crash
// finds every handler of the stack busy with the first one.
LONG WINAPI CrashingBaseFilter(EXCEPTION_POINTERS* pointers) {
  g_log->push_back("base");
  if (g_log->size() == 2) {
    const LONG nested = CrashExceptionHandler::HandleException(pointers);
    g_log->push_back(nested == EXCEPTION_CONTINUE_SEARCH ? "nested passed on" : "nested taken");
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

TEST_F(HandlerStackTest, NestedCrashBelowTheLastHandlerReachesTheFilterFromBefore) {
  SetUnhandledExceptionFilter(&CrashingBaseFilter);
  char name[] = "handler";
  CrashExceptionHandler handler(scratch_.path().value(), &LogAndVeto, nullptr, name,
                                CrashExceptionHandler::kHandlerException, 0, L"", nullptr);
  EXPECT_EQ(EXCEPTION_CONTINUE_SEARCH, Deliver(kTestCode));
  EXPECT_EQ((std::vector<std::string>{"handler", "base", "base", "nested passed on"}), log_);
  EXPECT_TRUE(FindDumps(scratch_.path()).empty());
}

TEST_F(HandlerStackTest, DebugExceptionsPassWithoutADumpUnlessAskedFor) {
  char name[] = "handler";
  CrashExceptionHandler handler(scratch_.path().value(), &LogAndVeto, nullptr, name,
                                CrashExceptionHandler::kHandlerException, 0, L"", nullptr);
  const DWORD debug_codes[] = {0x80000003, 0x80000004, 0x40010006, 0x4001000A};
  for (DWORD code : debug_codes) EXPECT_EQ(EXCEPTION_CONTINUE_SEARCH, Deliver(code));
  EXPECT_EQ(std::vector<std::string>(4, "base"), log_);
  log_.clear();
  handler.set_handle_debug_exceptions(true);
  Deliver(0x80000003);
  EXPECT_EQ((std::vector<std::string>{"handler", "base"}), log_);
}

TEST_F(HandlerStackTest, OutOfOrderRemovalKeepsTheOthersWorking) {
  char first_name[] = "first";
  char second_name[] = "second";
  std::unique_ptr<CrashExceptionHandler> first(new CrashExceptionHandler(
      scratch_.path().value(), &LogAndVeto, nullptr, first_name,
      CrashExceptionHandler::kHandlerException, 0, L"", nullptr));
  CrashExceptionHandler second(scratch_.path().value(), &LogAndVeto, nullptr, second_name,
                               CrashExceptionHandler::kHandlerException, 0, L"", nullptr);
  first.reset();  // warns on stderr
  SetUnhandledExceptionFilter(&CrashExceptionHandler::HandleException);
  Deliver(kTestCode);
  // "second" handled alone; its previous filter is the stack's own, which finds no
  // other handler.
  EXPECT_EQ((std::vector<std::string>{"second"}), log_);
}

// The CRT handlers end the process; they run in crash_client_test_helper.exe.
TEST_F(CrashExceptionHandlerTest, CrtHandlersDumpTheirAssertionAndEndTheProcessWithCode1) {
  struct Case {
    const wchar_t* mode;
    uint32_t type;
    uint32_t code;
    uint32_t line;
    const wchar_t* expression;
  };
  const Case cases[] = {{L"invalid-parameter", kAssertionInvalidParameter, 0xC000000D, 42,
                         L"buffer != nullptr"},
                        {L"pure-call", kAssertionPureVirtualCall, 0xC0000025, 0, L""}};
  for (const Case& c : cases) {
    const base::FilePath folder = Path(c.mode);
    ASSERT_TRUE(CreateDirectoryW(folder.value().c_str(), nullptr));
    EXPECT_EQ(static_cast<int>(kCrashExitCode),
              base::RunTestHelper(L"crash_client_test_helper.exe",
                                  std::wstring(c.mode) + L" \"" + folder.value() + L"\""))
        << c.mode;
    const std::vector<base::FilePath> dumps = FindDumps(folder);
    ASSERT_EQ(1u, dumps.size()) << c.mode;
    MinidumpFacts facts = ReadMinidump(dumps[0]);
    ASSERT_TRUE(facts.valid);
    EXPECT_EQ(c.code, facts.exception_code);
    const std::string& stream = facts.streams[kAssertionInfoStreamType];
    ASSERT_EQ(sizeof(AssertionInfo), stream.size()) << c.mode;
    AssertionInfo assertion;
    memcpy(&assertion, stream.data(), sizeof(assertion));
    EXPECT_EQ(c.type, assertion.type);
    EXPECT_EQ(c.line, assertion.line);
    EXPECT_EQ(std::wstring(c.expression), assertion.expression);
  }
}

TEST_F(CrashExceptionHandlerTest, CrtHandlerReportsToTheReporter) {
  TestReporter reporter("serve", Path(L"report.txt"));
  ASSERT_NE(0u, reporter.pid());
  EXPECT_EQ(static_cast<int>(kCrashExitCode),
            base::RunTestHelper(L"crash_client_test_helper.exe",
                                L"invalid-parameter \"" + scratch_.path().value() + L"\" " +
                                    base::UintToString16(reporter.pid())));
  std::map<std::string, std::string> seen = ReadReport(Path(L"report.txt"));
  EXPECT_EQ("1", seen["assertion_type"]);
  EXPECT_EQ("42", seen["assertion_line"]);
  EXPECT_EQ("0xc000000d", seen["exception_code"]);
  EXPECT_TRUE(FindDumps(scratch_.path()).empty());  // the reporter writes the dumps
}

}  // namespace
}  // namespace crash_reporter
