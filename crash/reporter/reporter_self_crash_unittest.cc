#include "crash/reporter/reporter_self_crash.h"

#include <windows.h>

#include <map>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "base/files/scratch_dir_test_util.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/test_helper_process.h"
#include "base/win/registry.h"
#include "crash/reporter/crash_exception_handler.h"
#include "crash/reporter/crash_pipe_message.h"
#include "crash/reporter/crash_reporter_test_util.h"
#include "crash/reporter/minidump_file_writer.h"
#include "testing/crash_collector/crash_collector_test_util.h"

namespace crash_reporter {
namespace {

constexpr wchar_t kLastCrashValue[] = L"Last crash in crash reporter";
constexpr uint64_t kTicksPerDay = 864000000000ULL;

FILETIME TicksToFileTime(uint64_t ticks) {
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(ticks);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return time;
}

uint64_t Now() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

bool ReadLastCrash(HKEY root, const std::wstring& path, uint64_t* value, DWORD* type) {
  base::RegistryKey key;
  if (key.Open(root, path.c_str(), KEY_QUERY_VALUE) != ERROR_SUCCESS) return false;
  DWORD size = sizeof(*value);
  return RegQueryValueExW(key.Handle(), kLastCrashValue, nullptr, type,
                          reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS;
}

// A scratch key under HKCU, removed at the end.
class ReporterCrashTimeTest : public testing::Test {
 protected:
  void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str()); }
  void Store(DWORD type, uint64_t value) {
    base::RegistryKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, path_.c_str(), KEY_SET_VALUE));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.Handle(), kLastCrashValue, 0, type,
                                            reinterpret_cast<const BYTE*>(&value),
                                            type == REG_DWORD ? 4 : 8));
  }
  const std::wstring path_ =
      L"Software\\VelumTest\\self_crash_" + base::UintToString16(GetCurrentProcessId());
};

TEST_F(ReporterCrashTimeTest, DaysSinceTheLastReportedCrash) {
  const uint64_t now = Now();
  uint64_t days = 99;
  // None stored yet, with and without the key: long ago, and nothing is written.
  for (int with_key = 0; with_key < 2; ++with_key) {
    if (with_key) {
      base::RegistryKey key;
      ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, path_.c_str(), KEY_SET_VALUE));
    }
    ASSERT_TRUE(internal::GetDaysSinceLastCrash(HKEY_CURRENT_USER, path_,
                                                TicksToFileTime(now), &days));
    EXPECT_EQ(now / kTicksPerDay, days);
    uint64_t stored = 1;
    DWORD type = 0;
    EXPECT_FALSE(ReadLastCrash(HKEY_CURRENT_USER, path_, &stored, &type)) << stored;
  }
  // 0 is no time to record.
  EXPECT_FALSE(internal::RecordCrashTime(HKEY_CURRENT_USER, path_, TicksToFileTime(0)));
  uint64_t stored = 1;
  DWORD type = 0;
  EXPECT_FALSE(ReadLastCrash(HKEY_CURRENT_USER, path_, &stored, &type));

  struct Case {
    uint64_t stored_ago;  // ticks before now
    bool in_future;
    bool ok;
    uint64_t days;
  };
  const Case cases[] = {
      {2 * kTicksPerDay + kTicksPerDay / 2, false, true, 2},
      {3 * kTicksPerDay, false, true, 3},
      {0, false, true, 0},
      {kTicksPerDay, true, false, 0},  // a stored time in the future
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(internal::RecordCrashTime(
        HKEY_CURRENT_USER, path_,
        TicksToFileTime(c.in_future ? now + c.stored_ago : now - c.stored_ago)));
    days = 99;
    EXPECT_EQ(c.ok, internal::GetDaysSinceLastCrash(HKEY_CURRENT_USER, path_,
                                                    TicksToFileTime(now), &days))
        << c.stored_ago;
    if (c.ok) {
      EXPECT_EQ(c.days, days) << c.stored_ago;
    }
  }
}

TEST_F(ReporterCrashTimeTest, AValueOfAnotherTypeIsNoTime) {
  ASSERT_NO_FATAL_FAILURE(Store(REG_DWORD, 5));
  uint64_t days = 0;
  EXPECT_FALSE(internal::GetDaysSinceLastCrash(HKEY_CURRENT_USER, path_,
                                               TicksToFileTime(Now()), &days));
}

// The company key's value as the helpers see it: they take a scratch key under
// HKEY_CURRENT_USER for the whole hive, so runs in parallel each have their own.
class PrivateLastCrash {
 public:
  PrivateLastCrash()
      : hive_(L"Software\\VelumTest\\self_crash_hive_" +
              base::UintToString16(GetCurrentProcessId())),
        path_(hive_ + L"\\" + internal::GetReporterCrashKeyPath()) {
    RegDeleteTreeW(HKEY_CURRENT_USER, hive_.c_str());
    base::RegistryKey key;
    created_ = key.Create(HKEY_CURRENT_USER, hive_.c_str(), KEY_ALL_ACCESS) == ERROR_SUCCESS;
  }
  ~PrivateLastCrash() { RegDeleteTreeW(HKEY_CURRENT_USER, hive_.c_str()); }
  bool created() const { return created_; }
  const std::wstring& hive() const { return hive_; }
  bool Read(uint64_t* value) const {
    DWORD type = 0;
    return ReadLastCrash(HKEY_CURRENT_USER, path_, value, &type);
  }
  // Waits until the value exists (a copy of the reporter writes it), at most 60 s.
  bool WaitForValue(uint64_t* value) const {
    base::RegistryKey key;
    if (key.Create(HKEY_CURRENT_USER, path_.c_str(), KEY_NOTIFY | KEY_QUERY_VALUE) !=
        ERROR_SUCCESS) {
      return false;
    }
    base::ScopedHandle changed(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    const ULONGLONG deadline = GetTickCount64() + 60000;
    for (;;) {
      if (RegNotifyChangeKeyValue(key.Handle(), FALSE, REG_NOTIFY_CHANGE_LAST_SET,
                                  changed.Get(), TRUE) != ERROR_SUCCESS) {
        return false;
      }
      if (Read(value) && *value != 0) return true;
      const ULONGLONG now = GetTickCount64();
      if (now >= deadline) return false;
      WaitForSingleObject(changed.Get(), static_cast<DWORD>(deadline - now));
    }
  }

 private:
  const std::wstring hive_;
  const std::wstring path_;
  bool created_ = false;
};

using ReporterSelfCrashTest = base::ScratchDirTest;

// The crashing reporter is crash_host_test_helper.exe; its relaunched copy reports it.
TEST_F(ReporterSelfCrashTest, ACrashedReporterIsReportedOnceInThreeDays) {
  installer::testing::CrashCollector collector;
  ASSERT_TRUE(collector.Start()) << collector.error();
  ScopedEnvironmentVariable url("VELUM_ALTERNATIVE_CRASH_SERVER_URL",
                                collector.Url("/submit").c_str());
  ScopedEnvironmentVariable log_dir("VELUM_CRASH_LOG_DIR",
                                    base::WideToUTF8(scratch_.path().value()).c_str());
  ScopedEnvironmentVariable email("VELUM_CRASH_EMAIL", "qa@example.com");
  // The crashing reporters write their dumps into the temporary folder, where tests
  // running beside this one look for reporters that crashed by accident.
  const std::string scratch = base::WideToUTF8(scratch_.path().value());
  ScopedEnvironmentVariable tmp("TMP", scratch.c_str());
  ScopedEnvironmentVariable temp("TEMP", scratch.c_str());
  // Wine's dumps of the reporter are larger than the product's limit (its stack walk
  // records every piece of unwind data it reads); the limit itself is tested on its own.
  ScopedEnvironmentVariable limit("VELUM_TEST_REPORTER_DUMP_LIMIT", "3072000");
  PrivateLastCrash last_crash;
  ASSERT_TRUE(last_crash.created());
  ScopedEnvironmentVariable hive("VELUM_TEST_USER_HIVE",
                                 base::WideToUTF8(last_crash.hive()).c_str());
  const std::wstring reporter_switch =
      L"--crash-reporter-parent-id=" + base::UintToString16(GetCurrentProcessId());

  // A crashed reporter ends with a non-zero code, not as if it had finished its work.
  EXPECT_EQ(static_cast<int>(kCrashExitCode),
            base::RunTestHelper(L"crash_host_test_helper.exe",
                                reporter_switch + L" --reporter-self-crash=pure-call"));
  installer::testing::CollectedRequest request;
  ASSERT_TRUE(collector.WaitForRequest(1, &request));
  uint64_t recorded = 0;
  EXPECT_TRUE(last_crash.WaitForValue(&recorded));
  EXPECT_LE(Now() - recorded, kTicksPerDay);

  EXPECT_EQ("", request.Header("Content-Encoding"));
  std::map<std::string, std::string> fields;
  for (const auto& part : request.parts) fields[part.name] = part.data;
  EXPECT_EQ("crash_reporter", fields["ptype"]);
  EXPECT_EQ("qa@example.com", fields["Email"]);
  EXPECT_EQ("VelumDesktop", fields["prod"]);
  ASSERT_FALSE(request.parts.empty());
  const auto& dump = request.parts.back();
  EXPECT_EQ("upload_file_minidump", dump.name);
  EXPECT_LE(dump.data.size(), 3072000u);
  MinidumpFacts facts = ReadMinidump(Write(L"reporter.dmp", dump.data));
  EXPECT_TRUE(facts.valid);
  EXPECT_TRUE(facts.has_exception);
  // Under load Wine's dbghelp now and then cannot read the record out of the crashed
  // process and writes it zeroed; a code that was read must be the right one.
  if (facts.exception_code != 0) {
    EXPECT_EQ(0xC0000025u, facts.exception_code);
  }
  EXPECT_EQ(1u, facts.streams.count(kBuildVersionStreamType));
  EXPECT_EQ(0u, facts.streams.count(kAssertionStreamType));

  // Within three days of the reported one: released at once, nothing sent, time kept.
  EXPECT_EQ(static_cast<int>(kCrashExitCode),
            base::RunTestHelper(L"crash_host_test_helper.exe",
                                reporter_switch + L" --reporter-self-crash=access-violation"));
  EXPECT_FALSE(collector.HasRequest(2));
  uint64_t kept = 0;
  ASSERT_TRUE(last_crash.Read(&kept));
  EXPECT_EQ(recorded, kept);
  EXPECT_TRUE(collector.Stop());
}

}  // namespace
}  // namespace crash_reporter
