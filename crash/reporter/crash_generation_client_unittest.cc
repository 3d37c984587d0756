#include "crash/reporter/crash_generation_client.h"

#include <string.h>

#include <utility>

#include <gtest/gtest.h>

#include "base/files/scratch_dir_test_util.h"
#include "base/strings/string_number_conversions.h"
#include "base/win/exception_guard.h"
#include "crash/reporter/crash_reporter_test_util.h"

namespace crash_reporter {
namespace {

constexpr DWORD kTestCode = 0xE0000017;

CustomInfoEntry Entry(const wchar_t* name, const wchar_t* value) {
  CustomInfoEntry entry;
  memset(&entry, 0, sizeof(entry));
  wcscpy(entry.name, name);
  wcscpy(entry.value, value);
  return entry;
}

struct DumpRequest {
  CrashGenerationClient* client;
  const AssertionInfo* assertion;
  bool result;
};

void Raise(void*) { RaiseException(kTestCode, 0, 0, nullptr); }

// Asks for the dump from inside the exception, as the crash handler does.
LONG RequestFromFilter(EXCEPTION_POINTERS* info, void* context) {
  DumpRequest* request = static_cast<DumpRequest*>(context);
  request->result = request->client->RequestDump(info, request->assertion);
  return EXCEPTION_EXECUTE_HANDLER;
}

class CrashGenerationClientTest : public base::ScratchDirTest {
 protected:
  base::FilePath report() const { return Path(L"report.txt"); }
  // Registers with a stand-in reporter in `mode`, which the client must refuse; the
  // reporter's exit code.
  int ExpectRegistrationRefused(const char* mode) {
    TestReporter reporter(mode, report());
    EXPECT_NE(0u, reporter.pid());
    {
      CrashGenerationClient client(GetCrashPipeName(reporter.pid()), base::ScopedHandle(), 0,
                                   info_);
      EXPECT_FALSE(client.Register()) << mode;
      EXPECT_FALSE(client.IsRegistered()) << mode;
      EXPECT_FALSE(client.RequestDump(nullptr, nullptr)) << mode;
    }
    return reporter.WaitForExit();
  }
  const CustomInfoEntry entries_[2] = {Entry(L"ptype", L"installer"), Entry(L"ver", L"1.0")};
  const CustomClientInfo info_ = {entries_, 2};
};

TEST_F(CrashGenerationClientTest, RegistersAndTheReporterReadsTheCrashThroughTheAddresses) {
  TestReporter reporter("serve", report());
  ASSERT_NE(0u, reporter.pid());
  CrashGenerationClient client(GetCrashPipeName(reporter.pid()), base::ScopedHandle(), 0,
                               info_);
  EXPECT_FALSE(client.IsRegistered());
  ASSERT_TRUE(client.Register());
  EXPECT_TRUE(client.Register());  // once registered, at once
  EXPECT_EQ(reporter.pid(), client.server_process_id());

  AssertionInfo assertion = {};
  assertion.type = kAssertionInvalidParameter;
  assertion.line = 42;
  DumpRequest request = {&client, &assertion, false};
  EXPECT_FALSE(base::RunWithExceptionGuard(&Raise, nullptr, &RequestFromFilter, &request));
  EXPECT_TRUE(request.result);

  std::map<std::string, std::string> seen = ReadReport(report());
  EXPECT_EQ(base::Int64ToString(GetCurrentThreadId()), seen["thread"]);
  EXPECT_EQ("0xe0000017", seen["exception_code"]);
  EXPECT_EQ("1", seen["assertion_type"]);
  EXPECT_EQ("42", seen["assertion_line"]);
  EXPECT_EQ("installer", seen["entry:ptype"]);
  EXPECT_EQ("1.0", seen["entry:ver"]);
}

TEST_F(CrashGenerationClientTest, ReporterDyingWithItsMutexFailsTheRequest) {
  TestReporter reporter("abandon", report());
  ASSERT_NE(0u, reporter.pid());
  CrashGenerationClient client(GetCrashPipeName(reporter.pid()), base::ScopedHandle(), 0,
                               info_);
  ASSERT_TRUE(client.Register());
  DumpRequest request = {&client, nullptr, true};
  EXPECT_FALSE(base::RunWithExceptionGuard(&Raise, nullptr, &RequestFromFilter, &request));
  EXPECT_FALSE(request.result);
  EXPECT_EQ(0, reporter.WaitForExit());
}

// Replies a reporter may not give: another id than its own, live handles of other types.
TEST_F(CrashGenerationClientTest, RepliesWithAWrongIdOrWrongHandleTypesAreRefused) {
  for (const char* mode : {"zero-id", "wrong-types"}) (void)ExpectRegistrationRefused(mode);
}

// A pipe served by another process than the reporter the client was told to join (as one
// a standard user's process could serve to an elevated client) is not registered with.
TEST_F(CrashGenerationClientTest, APipeServedByAnotherProcessIsRefused) {
  TestReporter reporter("serve", report());
  ASSERT_NE(0u, reporter.pid());
  base::ScopedHandle pipe(CreateFileW(GetCrashPipeName(reporter.pid()).c_str(),
                                      GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                      nullptr));
  ASSERT_TRUE(pipe.IsValid());
  DWORD mode = PIPE_READMODE_MESSAGE;
  ASSERT_TRUE(SetNamedPipeHandleState(pipe.Get(), &mode, nullptr, nullptr));
  CrashGenerationClient client(GetCrashPipeName(reporter.pid() + 4), std::move(pipe), 0, info_);
  EXPECT_FALSE(client.Register());
  EXPECT_FALSE(client.IsRegistered());
}

// A reporter that names this process's own handles (found by listing them), new handles
// of its own objects, or one handle twice is refused: the client would take over and
// later close handles that are not the reporter's.
TEST_F(CrashGenerationClientTest, RepliesHandingThisProcessItsOwnHandlesAreRefused) {
  base::ScopedHandle request(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  base::ScopedHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  base::ScopedHandle alive(CreateMutexW(nullptr, FALSE, nullptr));
  ASSERT_TRUE(request.IsValid() && done.IsValid() && alive.IsValid());
  const std::string own = std::to_string(reinterpret_cast<uintptr_t>(request.Get())) + "," +
                          std::to_string(reinterpret_cast<uintptr_t>(done.Get())) + "," +
                          std::to_string(reinterpret_cast<uintptr_t>(alive.Get()));
  const ScopedEnvironmentVariable handles("VELUM_TEST_OWN_HANDLES", own.c_str());
  for (const char* mode : {"own-handles", "own-objects", "repeated"}) {
    // A refused reply is never acknowledged.
    EXPECT_NE(0, ExpectRegistrationRefused(mode)) << mode << ": the reply was acknowledged";
    for (HANDLE handle : {request.Get(), done.Get(), alive.Get()}) {
      DWORD flags = 0;
      EXPECT_TRUE(GetHandleInformation(handle, &flags)) << mode << ": one of ours was closed";
    }
  }
}

TEST_F(CrashGenerationClientTest, ReplyOfAnotherKindIsRefusedAndItsHandlesLeftAlone) {
  TestReporter reporter("wrong-tag", report());
  ASSERT_NE(0u, reporter.pid());
  {
    CrashGenerationClient client(GetCrashPipeName(reporter.pid()), base::ScopedHandle(), 0,
                                 info_);
    EXPECT_FALSE(client.Register());
    EXPECT_FALSE(client.IsRegistered());
  }
  EXPECT_EQ(0, reporter.WaitForExit());
  // Live handles of this process under values a reply of another kind named: neither
  // taken nor closed by the client, so the test owns them now.
  std::map<std::string, std::string> seen = ReadReport(report());
  for (const char* key : {"request", "done", "alive"}) {
    uint64_t value = 0;
    ASSERT_TRUE(base::StringToUint64(seen[key], &value)) << key;
    DWORD flags = 0;
    EXPECT_TRUE(GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) << key;
    base::ScopedHandle owned(reinterpret_cast<HANDLE>(value));
  }
}

TEST_F(CrashGenerationClientTest, PipeBusyOnBothAttemptsFailsAfterOneWait) {
  const std::wstring name = GetCrashPipeName(GetCurrentProcessId());
  base::ScopedHandle server(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX,
                                             PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1,
                                             80, 80, 0, nullptr));
  ASSERT_TRUE(server.IsValid());
  // The only instance is taken by another client for the whole test.
  base::ScopedHandle other(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(other.IsValid());
  CrashGenerationClient client(name, base::ScopedHandle(), 0, info_);
  EXPECT_FALSE(client.Register());
}

TEST_F(CrashGenerationClientTest, NoServerNoRegistration) {
  CrashGenerationClient client(GetCrashPipeName(4294967295u), base::ScopedHandle(), 0, info_);
  EXPECT_FALSE(client.Register());
  EXPECT_FALSE(client.RequestDump(nullptr, nullptr));
}

}  // namespace
}  // namespace crash_reporter
